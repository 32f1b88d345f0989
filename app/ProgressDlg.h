#pragma once
// The modeless progress window of long operations: a message line, a bar with its
// percentage and a Cancel button that only raises a flag for the operation to poll.
// While it is shown its owner is disabled.
#include "Dialog.h"

// About 30 looks a second at the progress window: enough for a smooth bar and a prompt
// Cancel, few enough that pumping messages costs nothing next to a loop's work.
const DWORD kProgressIntervalMs = 33;

class CProgressDlg : public CDialog {
public:
    explicit CProgressDlg(UINT nCaptionID = 0);
    ~CProgressDlg() override;

    BOOL Create(CWnd* pParent = nullptr);
    BOOL DestroyWindow() override;

    void SetRange(int nLower, int nUpper);
    int SetPos(int nPos);
    void UpdatePercent(int nPos);
    void PumpMessages();
    BOOL CheckCancel();
    void EnableCancel(BOOL bEnable);
    void SetMessage(const std::string& text);
    // TRUE at most about 30 times a second: a loop of many quick steps shows them, and
    // pumps messages, only then, as each visit to the window system costs more than a step.
    BOOL IsDue();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    void OnOK() override;
    void OnCancel() override;

private:
    void ReEnableOwner();

    CProgressCtrl m_progress;
    UINT m_nCaptionID;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nStep = 1;
    BOOL m_bCancel = FALSE;
    BOOL m_bParentDisabled = FALSE;
    HWND m_hOwner = nullptr;
    ULONGLONG m_nDueAt = 0;
};

// The progress dialog of the running extraction, for the unzip print callback.
extern CProgressDlg* g_pProgressDlg;

#pragma once
// The modeless progress window of long operations: a message line, a bar with its
// percentage and a Cancel button that only raises a flag for the operation to poll.
// While it is shown its owner is disabled.
#include "Dialog.h"
#include "Person.h"

class CProgressDlg : public CDialog, public CProgress {
public:
    explicit CProgressDlg(UINT nCaptionID = 0);
    ~CProgressDlg() override;

    BOOL Create(CWnd* pParent = nullptr);
    BOOL DestroyWindow() override;

    void SetCaption(const std::string& caption) override { SetWindowText(caption); }
    void SetRange(int nLower, int nUpper) override;
    int SetPos(int nPos) override;
    void UpdatePercent(int nPos);
    void PumpMessages();
    BOOL CheckCancel() override;
    void EnableCancel(BOOL bEnable) override;
    void SetMessage(const std::string& text) override;
    // TRUE at most about 30 times a second: a loop of many quick steps shows them, and
    // pumps messages, only then, as each visit to the window system costs more than a step.
    BOOL IsDue() override { return m_due.IsDue(); }
    HWND Owner() override { return m_hWnd; }

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
    CDueClock m_due;
};

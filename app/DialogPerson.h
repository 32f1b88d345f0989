#pragma once
// The person behind the dialog: message boxes owned by the dialog (an operation's caption) or the
// application (its own), the progress dialog over the dialog, and a dialog that keeps answering while a
// server is asked. With a log set, every text shown and answer given is written there too.
#include "Dialog.h"
#include "EventLog.h"
#include "Person.h"

class CDialogPerson : public CPerson {
public:
    explicit CDialogPerson(CDialog& dialog) : m_dialog(dialog) {}
    void SetLog(CEventLog* pLog) { m_pLog = pLog; }

    int Show(const std::string& text, const std::string& caption, UINT type, CQuestion question,
             CCause cause) override;
    void Note(const std::string& text) override;
    std::unique_ptr<CProgress> StartProgress() override;
    std::unique_ptr<CServerWait> StartWait(BOOL bAskCredentials) override;
    void ShowBusy(BOOL bBusy) override;
    BOOL IsAttended() override { return TRUE; }

private:
    CDialog& m_dialog;
    CEventLog* m_pLog = nullptr;
};

// A progress that the log follows: its caption as the start of a phase, its end when it goes.
class CLoggedProgress : public CProgress {
public:
    CLoggedProgress(std::unique_ptr<CProgress> progress, CEventLog* pLog)
        : m_progress(std::move(progress)), m_pLog(pLog) {}
    ~CLoggedProgress() override;

    void SetCaption(const std::string& caption) override;
    void SetRange(int nLower, int nUpper) override { m_progress->SetRange(nLower, nUpper); }
    int SetPos(int nPos) override { return m_progress->SetPos(nPos); }
    void SetMessage(const std::string& text) override { m_progress->SetMessage(text); }
    void EnableCancel(BOOL bEnable) override { m_progress->EnableCancel(bEnable); }
    BOOL CheckCancel() override;
    BOOL IsDue() override { return m_progress->IsDue(); }
    HWND Owner() override { return m_progress->Owner(); }

private:
    std::unique_ptr<CProgress> m_progress;
    CEventLog* m_pLog;
    std::string m_strCaption;
};

// How the log writes a message and its answer: "[caption] text" and the button.
std::string LogLine(const std::string& text, const std::string& caption, const char* answer);
const char* ButtonName(int button);

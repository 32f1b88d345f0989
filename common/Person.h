#pragma once
// The one door through which the update's operations reach a person: a message or a question,
// the progress of a long step with its Cancel, and the wait for a server. The dialogs open it
// with message boxes, the progress dialog and a dialog that keeps answering; a run that nobody
// attends opens it with its log and fixed answers. The texts and captions stay with the
// operations, so that the wording is found next to the rule that shows it.
#include <windows.h>

#include <memory>
#include <string>

// About 30 looks a second at the progress: enough for a smooth bar and a prompt Cancel, few
// enough that pumping messages costs nothing next to a loop's work.
const DWORD kProgressIntervalMs = 33;

// What a question asks, so that a run with nobody there can answer it by its meaning.
enum class CQuestion {
    kNone,                  // a message, answered with its only button
    kPieceNumbers,          // go on although piece numbers may change
    kDownloadAgain,         // fetch again the update file an earlier run left (No: use it as it is)
    kDownloadAgainChecked,  // the same, where No keeps it only when it has the signed length and hash
    kOldVerFiles,           // delete the Ver files beside the newest
    kStrayGenerations,      // delete generations no restore can reach
    kFilesInUse,            // retry after the programs that hold files have ended
    kDeleteAllBackups,      // the dialog's button: delete every generation
    kStartCad,              // start the CAD after an update
};

// Why an operation failed, where it knows: an unattended run's exit code says so.
enum class CCause {
    kNone,
    kServer,       // the server could not be reached, or failed
    kSignature,    // the release was refused by its signature
    kFilesInUse,   // a program holds a file to be changed
    kNoRights,     // this user may not write the installation
    kDiskFull,
    kArchive,      // the update archive is damaged
    kAnotherCopy,  // another copy works on the installation
    kRecovery,     // what an interrupted run left could not be put right
    kOther,
};

// TRUE at most kProgressIntervalMs apart, as a progress's IsDue says.
class CDueClock {
public:
    BOOL IsDue() {
        const ULONGLONG now = ::GetTickCount64();
        if (now < m_nDueAt)
            return FALSE;
        m_nDueAt = now + kProgressIntervalMs;
        return TRUE;
    }

private:
    ULONGLONG m_nDueAt = 0;
};

// The progress of one long step; it goes when the step's owner lets go of it.
class CProgress {
public:
    virtual ~CProgress() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetRange(int nLower, int nUpper) = 0;
    // Returns the position before.
    virtual int SetPos(int nPos) = 0;
    virtual void SetMessage(const std::string& text) = 0;
    virtual void EnableCancel(BOOL bEnable) = 0;
    // TRUE once, after Cancel was pressed; lets the person act meanwhile.
    virtual BOOL CheckCancel() = 0;
    // TRUE at most kProgressIntervalMs apart: a loop of many quick steps shows them only then.
    virtual BOOL IsDue() = 0;
    // The window the step's own dialogs belong to (a proxy's credentials); null: nobody to ask.
    virtual HWND Owner() = 0;
};

// What a step does while it waits for a server.
class CServerWait {
public:
    virtual ~CServerWait() = default;
    // Keeps the person's windows answering; FALSE: stop waiting.
    virtual BOOL KeepWaiting() = 0;
    // The window that owns the proxy's credentials dialog; null: nobody may be asked.
    virtual HWND CredentialsOwner() = 0;
};

// Waits without windows: until the deadline, asking for credentials only if given an owner.
class CQuietWait : public CServerWait {
public:
    explicit CQuietWait(HWND hCredentialsOwner) : m_hOwner(hCredentialsOwner) {}
    BOOL KeepWaiting() override { return TRUE; }
    HWND CredentialsOwner() override { return m_hOwner; }

private:
    HWND m_hOwner;
};

class CPerson {
public:
    virtual ~CPerson() = default;
    // A message box of type (MB_...): caption empty for the application's own, else the operation's
    // ("CZynUpdateDlg::Download"). question says what it asks; cause why something failed, if it
    // did. Returns the button chosen (IDOK, IDYES, ...).
    virtual int Show(const std::string& text, const std::string& caption, UINT type,
                     CQuestion question = CQuestion::kNone, CCause cause = CCause::kNone) = 0;
    // A failure's cause where no message says it (a quiet step); what Show says keeps its cause too.
    void Fail(CCause cause) {
        if (cause != CCause::kNone)
            m_cause = cause;
    }
    // The cause of the last failure said or noted; kNone when none was.
    CCause LastCause() const { return m_cause; }
    // An event that only the log keeps: a phase, a file installed.
    virtual void Note(const std::string& text) = 0;
    virtual std::unique_ptr<CProgress> StartProgress() = 0;
    // bAskCredentials: a proxy's credentials may be asked for.
    virtual std::unique_ptr<CServerWait> StartWait(BOOL bAskCredentials) = 0;
    // The hourglass while a step cannot show its progress.
    virtual void ShowBusy(BOOL bBusy) = 0;
    // Whether anybody may be shown a window at all: the system's own dialogs (administrator rights, a
    // proxy's credentials) included.
    virtual BOOL IsAttended() = 0;

private:
    CCause m_cause = CCause::kNone;
};

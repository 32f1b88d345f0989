#include "DialogPerson.h"

#include "MessageBox.h"
#include "ProgressDlg.h"
#include "ServerWait.h"
#include "WinApp.h"
#include "resource.h"

std::string LogLine(const std::string& text, const std::string& caption, const char* answer) {
    const std::string shown = caption.empty() ? std::string(AfxGetApp()->m_pszAppName) : caption;
    return "[" + shown + "] " + text + (answer ? std::string(" -> ") + answer : std::string());
}

const char* ButtonName(int button) {
    switch (button) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    case IDRETRY:
        return "Retry";
    default:
        return "?";
    }
}

int CDialogPerson::Show(const std::string& text, const std::string& caption, UINT type, CQuestion, CCause cause) {
    Fail(cause);
    const int button = caption.empty() ? AfxMessageBox(text, type) : m_dialog.MessageBox(text, caption, type);
    if (m_pLog)
        m_pLog->Write(LogLine(text, caption, ButtonName(button)));
    return button;
}

void CDialogPerson::Note(const std::string& text) {
    if (m_pLog)
        m_pLog->Write(text);
}

std::unique_ptr<CProgress> CDialogPerson::StartProgress() {
    auto progress = std::make_unique<CProgressDlg>();
    progress->Create(&m_dialog);
    if (!m_pLog)
        return progress;
    return std::make_unique<CLoggedProgress>(std::move(progress), m_pLog);
}

std::unique_ptr<CServerWait> CDialogPerson::StartWait(BOOL bAskCredentials) {
    if (m_dialog.IsWindow() && ::IsWindowVisible(m_dialog.m_hWnd))
        return std::make_unique<CDialogWait>(m_dialog, IDC_EXIT, bAskCredentials);
    // Unattended, the credentials dialog has no window to belong to but the desktop.
    return std::make_unique<CQuietWait>(bAskCredentials ? ::GetDesktopWindow() : nullptr);
}

void CDialogPerson::ShowBusy(BOOL bBusy) {
    if (bBusy)
        AfxGetApp()->BeginWaitCursor();
    else
        AfxGetApp()->EndWaitCursor();
}

CLoggedProgress::~CLoggedProgress() {
    if (m_pLog && !m_strCaption.empty())
        m_pLog->Write("終了: " + m_strCaption);
}

void CLoggedProgress::SetCaption(const std::string& caption) {
    if (m_pLog)
        m_pLog->Write("開始: " + caption);
    m_strCaption = caption;
    m_progress->SetCaption(caption);
}

BOOL CLoggedProgress::CheckCancel() {
    const BOOL cancel = m_progress->CheckCancel();
    if (cancel && m_pLog)
        m_pLog->Write("ｷｬﾝｾﾙ: " + m_strCaption);
    return cancel;
}

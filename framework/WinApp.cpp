#include "WinApp.h"

namespace {
CWinApp* g_app = nullptr;

std::string ModulePath() {
    char path[MAX_PATH] = "";
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (length > 0 && length < MAX_PATH) ? std::string(path, length) : std::string();
}
}  // namespace

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : ::GetModuleHandleA(nullptr); }

CWinApp::CWinApp() : m_hInstance(::GetModuleHandleA(nullptr)), m_pPrevious(g_app) {
    g_app = this;
    // Defaults as the framework sets them: the base name, and the path with ".chm".
    std::string path = ModulePath();
    size_t nameStart = path.find_last_of("\\/");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    m_appName = path.substr(nameStart, dot - nameStart);
    m_helpFilePath = path.substr(0, dot) + ".chm";
    m_pszAppName = m_appName.c_str();
    m_pszHelpFilePath = m_helpFilePath.c_str();
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = m_pPrevious;
}

BOOL CWinApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    return TRUE;
}

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void CWinApp::SetHelpFilePath(const std::string& path) {
    m_helpFilePath = path;
    m_pszHelpFilePath = m_helpFilePath.c_str();
}

void CWinApp::BeginWaitCursor() {
    if (m_nWaitCursorCount++ == 0)
        m_hcurRestore = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514) /* IDC_WAIT */));
}

void CWinApp::EndWaitCursor() {
    if (m_nWaitCursorCount > 0 && --m_nWaitCursorCount == 0)
        ::SetCursor(m_hcurRestore ? m_hcurRestore : ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512) /* IDC_ARROW */));
}

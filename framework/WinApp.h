#pragma once
#include "Wnd.h"

#include <string>

// The application object. There is one; WinMain runs InitInstance and, when it
// returns TRUE, a message loop, and the process exits with ExitInstance's result.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    int Run();

    void EnableHtmlHelp() { m_bHtmlHelp = TRUE; }
    void SetHelpFilePath(const std::string& path);

    void BeginWaitCursor();
    void EndWaitCursor();

    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd = nullptr;
    // The program's base name, and its path with the help extension; both owned here.
    const char* m_pszAppName;
    const char* m_pszHelpFilePath;
    BOOL m_bHtmlHelp = FALSE;

private:
    std::string m_appName;
    std::string m_helpFilePath;
    CWinApp* m_pPrevious;  // a second object (in tests) hands the role back when it goes
    HCURSOR m_hcurRestore = nullptr;
    int m_nWaitCursorCount = 0;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

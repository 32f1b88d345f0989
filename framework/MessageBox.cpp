#include "MessageBox.h"

#include "WideText.h"
#include "WinApp.h"

namespace {
MessageBoxHook g_hook = nullptr;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxHook previous = g_hook;
    g_hook = hook;
    return previous;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    if (owner && !::IsWindow(owner))
        owner = nullptr;
    if (g_hook)
        return g_hook(owner, text.c_str(), caption.c_str(), type);
    return ::MessageBoxW(owner, WideFromText(text).c_str(), WideFromText(caption).c_str(), type);
}

int AfxMessageBox(const std::string& text, UINT type) {
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    std::string caption;
    if (app) {
        caption = app->m_pszAppName;
        if (app->m_pMainWnd)
            owner = app->m_pMainWnd->GetSafeHwnd();
    }
    return ShowMessageBox(owner, text, caption, type);
}

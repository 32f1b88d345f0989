#include "ServerWait.h"

#include "resource.h"

CDialogWait::CDialogWait(CDialog& dialog, int nKeepId, BOOL bAskCredentials)
    : m_dialog(dialog), m_bAskCredentials(bAskCredentials) {
    // Nothing else may start meanwhile; leaving is always possible, and the pane still scrolls.
    for (HWND child = ::GetWindow(dialog.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t kind[16] = L"";
        ::GetClassNameW(child, kind, 16);
        if (_wcsicmp(kind, L"Button") == 0 && ::GetDlgCtrlID(child) != nKeepId && ::IsWindowEnabled(child)) {
            ::EnableWindow(child, FALSE);
            m_disabled.push_back(child);
        }
    }
}

CDialogWait::~CDialogWait() {
    for (HWND child : m_disabled)
        ::EnableWindow(child, TRUE);
}

BOOL CDialogWait::KeepWaiting() {
    MSG msg;
    while (!m_dialog.IsEnding() && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {  // for the loop that waits for it
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return FALSE;
        }
        if (!::IsDialogMessageW(m_dialog.m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return !m_dialog.IsEnding();
}

HWND CDialogWait::CredentialsOwner() { return m_bAskCredentials ? m_dialog.m_hWnd : nullptr; }

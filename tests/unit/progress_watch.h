#pragma once
// Records what the progress dialogs of this thread show (captions, message lines and
// bar positions, in order) and, when asked, clicks Cancel for real once the bar
// reaches a position: the click is posted, so the operation sees it at its next check.
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"

class CProgressWatch {
public:
    CProgressWatch() : m_hook(::SetWindowsHookExA(WH_CALLWNDPROCRET, Hook, nullptr, ::GetCurrentThreadId())) {
        s_watch = this;
    }
    ~CProgressWatch() {
        ::UnhookWindowsHookEx(m_hook);
        s_watch = nullptr;
    }
    CProgressWatch(const CProgressWatch&) = delete;
    CProgressWatch& operator=(const CProgressWatch&) = delete;

    // beforeClick runs just before the click is posted, while the operation waits.
    void CancelAtPosition(int position, std::function<void()> beforeClick = {}) {
        m_cancelAt = position;
        m_beforeClick = std::move(beforeClick);
    }
    // Called with each new message line, while the operation waits for it.
    void OnMessage(std::function<void(const std::string&)> callback) { m_onMessage = std::move(callback); }
    std::string Caption() const { return captions.empty() ? std::string() : captions.back(); }

    std::vector<std::string> captions;
    std::vector<std::string> messages;
    std::vector<int> positions;

private:
    static std::string TextOf(HWND window) {
        char text[1024] = "";
        ::GetWindowTextA(window, text, sizeof(text));
        return text;
    }
    static bool IsProgressDialog(HWND window) { return window && ::GetDlgItem(window, IDC_PROGRESS_BAR) != nullptr; }

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && s_watch)
            s_watch->Seen(call->hwnd, call->message, call->wParam);
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void Seen(HWND window, UINT message, WPARAM wParam) {
        HWND parent = ::GetParent(window);
        if (message == WM_SETTEXT && IsProgressDialog(window)) {
            captions.push_back(TextOf(window));
        } else if (message == WM_SETTEXT && IsProgressDialog(parent) &&
                   ::GetDlgCtrlID(window) == IDC_PROGRESS_MESSAGE) {
            messages.push_back(TextOf(window));
            if (m_onMessage)
                m_onMessage(messages.back());
        } else if (message == PBM_SETPOS && IsProgressDialog(parent)) {
            positions.push_back(static_cast<int>(wParam));
            if (m_cancelAt >= 0 && positions.back() >= m_cancelAt) {
                m_cancelAt = -1;
                if (m_beforeClick)
                    m_beforeClick();
                ::PostMessageA(::GetDlgItem(parent, IDCANCEL), BM_CLICK, 0, 0);
            }
        }
    }

    static inline CProgressWatch* s_watch = nullptr;
    HHOOK m_hook;
    int m_cancelAt = -1;
    std::function<void()> m_beforeClick;
    std::function<void(const std::string&)> m_onMessage;
};

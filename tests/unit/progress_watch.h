#pragma once
// Records what this thread's progress dialogs show, in order, and can click Cancel for real once
// the bar reaches a position: the click is posted, so the operation sees it at its next check.
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
    // beforeClick, and a callback given to OnMessage, run while the operation waits.
    void CancelAtPosition(int position, std::function<void()> beforeClick = {}) {
        m_cancelAt = position;
        m_beforeClick = std::move(beforeClick);
    }
    void OnMessage(std::function<void(const std::string&)> callback) { m_onMessage = std::move(callback); }
    std::string Caption() const { return captions.empty() ? std::string() : captions.back(); }

    std::vector<std::string> captions, messages;
    std::vector<int> positions;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && s_watch)
            s_watch->Seen(call->hwnd, call->message, call->wParam);
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    void Seen(HWND window, UINT message, WPARAM wParam) {
        char text[1024] = "";
        HWND dialog = ::GetParent(window);
        bool inProgressDialog = dialog && ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
        bool isMessageLine = inProgressDialog && ::GetDlgCtrlID(window) == IDC_PROGRESS_MESSAGE;
        if (message == WM_SETTEXT && (isMessageLine || ::GetDlgItem(window, IDC_PROGRESS_BAR))) {
            ::GetWindowTextA(window, text, sizeof(text));
            (isMessageLine ? messages : captions).push_back(text);
            if (isMessageLine && m_onMessage)
                m_onMessage(text);
        } else if (message == PBM_SETPOS && inProgressDialog) {
            positions.push_back(static_cast<int>(wParam));
            if (m_cancelAt >= 0 && positions.back() >= m_cancelAt) {
                m_cancelAt = -1;
                if (m_beforeClick)
                    m_beforeClick();
                ::PostMessageA(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            }
        }
    }
    static inline CProgressWatch* s_watch = nullptr;
    HHOOK m_hook;
    int m_cancelAt = -1;
    std::function<void()> m_beforeClick;
    std::function<void(const std::string&)> m_onMessage;
};

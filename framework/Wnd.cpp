#include "Wnd.h"

#include <algorithm>

#include "MessageBox.h"
#include "WideText.h"

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::SetWindowText(const std::string& text) {
    if (m_hWnd)
        ::SetWindowTextW(m_hWnd, WideFromText(text).c_str());
}

std::string CWnd::GetWindowText() const {
    if (!m_hWnd)
        return std::string();
    int length = ::GetWindowTextLengthW(m_hWnd);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    int copied = ::GetWindowTextW(m_hWnd, &wide[0], length + 1);
    return TextFromWide(wide.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return m_hWnd ? ::EnableWindow(m_hWnd, bEnable) : FALSE; }

BOOL CWnd::IsWindowEnabled() const { return m_hWnd ? ::IsWindowEnabled(m_hWnd) : FALSE; }

HWND CWnd::GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd ? ::SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

int CWnd::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    return ShowMessageBox(m_hWnd, text, caption, type);
}

void CWnd::CenterWindow() {
    if (!m_hWnd)
        return;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT area;
    if (::GetMonitorInfoW(::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    else if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
        return;
    RECT over = area;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &over);
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    // Past the work area's right or bottom edge it moves back; a window larger than the area keeps its top-left.
    int left = std::min(over.left + (over.right - over.left - width) / 2, area.right - width);
    int top = std::min(over.top + (over.bottom - over.top - height) / 2, area.bottom - height);
    left = std::max<int>(left, area.left);
    top = std::max<int>(top, area.top);
    ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

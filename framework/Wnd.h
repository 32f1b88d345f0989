#pragma once
// Thin window and control wrappers. A wrapper does not own its window: dialogs
// bind their controls once the window exists, and the window goes with its dialog.
// Texts are code page 932; the windows are Unicode and get them through the wide calls.
#include <windows.h>
#include <commctrl.h>
#include <string>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }

    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    BOOL EnableWindow(BOOL bEnable);
    BOOL IsWindowEnabled() const;
    HWND GetDlgItem(int id) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Centres the window over its owner, or on the screen's work area when it has none (or
    // the owner is hidden or minimised), kept within that work area.
    void CenterWindow();

    // A message box owned by this window (no owner while the window does not exist).
    int MessageBox(const std::string& text, const std::string& caption, UINT type = MB_OK);

    HWND m_hWnd = nullptr;
};

class CButton : public CWnd {};

class CStatic : public CWnd {};
class CEdit : public CWnd {};

class CProgressCtrl : public CWnd {
public:
    // 32-bit bounds: an update of more than 65,535 files still fills the bar.
    void SetRange(int lower, int upper) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
    int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
    int SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
};

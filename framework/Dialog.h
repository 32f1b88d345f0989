#pragma once
#include "Wnd.h"

// A dialog from a resource template, modal (DoModal) or modeless (Create), made as a
// Unicode window and centred over its owner (on the screen without one) before it shows.
// One dialog procedure dispatches to the virtual handlers below.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    INT_PTR DoModal();
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    virtual BOOL DestroyWindow();
    void EndDialog(int nResult);
    // Whether the modal dialog has been told to end, and will once its handler returns.
    BOOL IsEnding() const { return m_bEnding; }

    // The dialog's help context is 0x20000 + m_nIDHelp.
    UINT m_nIDHelp;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange() {}
    virtual void OnOK();
    virtual void OnCancel();
    // Returns TRUE when the command was handled.
    virtual BOOL OnCommand(UINT id, UINT code);
    // Returns TRUE when the window was painted; FALSE leaves painting to the system.
    virtual BOOL OnPaint() { return FALSE; }
    virtual HCURSOR OnQueryDragIcon() { return nullptr; }
    // A null brush leaves the colours to the system.
    virtual HBRUSH OnCtlColor(HDC, HWND, UINT) { return nullptr; }

    void DDX_Control(int id, CWnd& control) { control.Attach(GetDlgItem(id)); }
    // The top-level window that owns pParent, or the application's main window.
    static HWND GetSafeOwner(CWnd* pParent);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    bool m_bModal = false;
    BOOL m_bEnding = FALSE;
};

#include "Dialog.h"

#include "WinApp.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (!m_bModal && IsWindow())
        ::DestroyWindow(m_hWnd);
}

HWND CDialog::GetSafeOwner(CWnd* pParent) {
    HWND hWnd = pParent ? pParent->GetSafeHwnd() : nullptr;
    if (!hWnd && AfxGetApp() && AfxGetApp()->m_pMainWnd)
        hWnd = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
    while (hWnd && (::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD))
        hWnd = ::GetParent(hWnd);
    if (hWnd) {
        HWND owner;
        while ((owner = ::GetWindow(hWnd, GW_OWNER)) != nullptr)
            hWnd = owner;
    }
    return hWnd;
}

INT_PTR CDialog::DoModal() {
    m_bModal = true;
    m_bEnding = FALSE;
    HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    INT_PTR result = ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), parent,
                                       DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_bModal = false;
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND parent = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    HWND hWnd = ::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(nIDTemplate), parent, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

BOOL CDialog::DestroyWindow() {
    if (!IsWindow())
        return FALSE;
    HWND hWnd = m_hWnd;
    return ::DestroyWindow(hWnd);
}

void CDialog::EndDialog(int nResult) {
    if (!IsWindow())
        return;
    if (m_bModal) {
        m_bEnding = TRUE;
        ::EndDialog(m_hWnd, nResult);
    }
    else
        ::ShowWindow(m_hWnd, SW_HIDE);
}

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(UINT id, UINT) {
    switch (id) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (!dialog)
        return FALSE;
    // Nothing may be thrown across the system's dialog manager.
    try {
        return dialog->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // Placed before it is first shown: over its owner, or on the screen.
        CenterWindow();
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                    message - WM_CTLCOLORMSGBOX));
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

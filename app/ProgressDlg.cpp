#include "ProgressDlg.h"

#include "Format.h"
#include "WideText.h"
#include "resource.h"

CProgressDlg::CProgressDlg(UINT nCaptionID)
    : CDialog(IDD_PROGRESS), m_nCaptionID(nCaptionID != 0 ? nCaptionID : IDS_PROGRESS_CAPTION) {}

CProgressDlg::~CProgressDlg() {
    if (IsWindow()) {
        ReEnableOwner();
        ::DestroyWindow(m_hWnd);
    }
}

BOOL CProgressDlg::Create(CWnd* pParent) {
    m_hOwner = GetSafeOwner(pParent);
    if (m_hOwner && ::IsWindowEnabled(m_hOwner)) {
        ::EnableWindow(m_hOwner, FALSE);
        m_bParentDisabled = TRUE;
    }
    if (!CDialog::Create(IDD_PROGRESS, pParent)) {
        ReEnableOwner();
        return FALSE;
    }
    return TRUE;
}

void CProgressDlg::ReEnableOwner() {
    if (m_bParentDisabled && m_hOwner)
        ::EnableWindow(m_hOwner, TRUE);
    m_bParentDisabled = FALSE;
}

BOOL CProgressDlg::DestroyWindow() {
    ReEnableOwner();
    return CDialog::DestroyWindow();
}

void CProgressDlg::DoDataExchange() { DDX_Control(IDC_PROGRESS_BAR, m_progress); }

BOOL CProgressDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_progress.SetRange(m_nLower, m_nUpper);
    m_progress.SetStep(m_nStep);
    m_progress.SetPos(m_nLower);
    SetWindowText(LoadResourceText(m_nCaptionID));
    return TRUE;
}

void CProgressDlg::SetRange(int nLower, int nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_progress.SetRange(nLower, nUpper);
}

int CProgressDlg::SetPos(int nPos) {
    PumpMessages();
    int previous = m_progress.SetPos(nPos);
    UpdatePercent(nPos);
    return previous;
}

void CProgressDlg::UpdatePercent(int nPos) {
    int span = m_nUpper - m_nLower;
    if (span <= 0)
        return;
    int percent = static_cast<int>((static_cast<long long>(nPos) - m_nLower) * 100 / span);
    if (percent != 100)
        percent %= 100;  // wraps as the bar does; exactly 100 stays
    std::string text = StrFormat("%d%c", percent, '%');
    CWnd percentText;
    percentText.Attach(GetDlgItem(IDC_PROGRESS_PERCENT));
    if (percentText.GetWindowText() != text)
        percentText.SetWindowText(text);
}

void CProgressDlg::PumpMessages() {
    if (!IsWindow())
        return;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // Enter would press the focused Cancel button; here it does nothing.
        bool enter = (msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_RETURN;
        if (enter && m_hWnd && (msg.hwnd == m_hWnd || ::IsChild(m_hWnd, msg.hwnd)))
            continue;
        if (!m_hWnd || !::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

BOOL CProgressDlg::CheckCancel() {
    PumpMessages();
    BOOL cancel = m_bCancel;
    m_bCancel = FALSE;
    return cancel;
}

void CProgressDlg::EnableCancel(BOOL bEnable) {
    HWND button = GetDlgItem(IDCANCEL);
    if (button)
        ::EnableWindow(button, bEnable);
}

void CProgressDlg::SetMessage(const std::string& text) {
    CWnd message;
    message.Attach(GetDlgItem(IDC_PROGRESS_MESSAGE));
    message.SetWindowText(text);
}

void CProgressDlg::OnOK() {}

void CProgressDlg::OnCancel() { m_bCancel = TRUE; }

#include "ZynUpdateDlg.h"

#include "Format.h"
#include "RixExec.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "resource.h"

CZynUpdateDlg::CZynUpdateDlg(UINT nIDTemplate, CWnd* pParent)
    : CDialog(nIDTemplate, pParent),
      m_pApp(static_cast<CZynUpdateApp*>(AfxGetApp())),
      m_hIcon(::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

CZynUpdateDlg::~CZynUpdateDlg() = default;

int CZynUpdateDlg::Mode() const { return m_pApp->m_nMode; }

void CZynUpdateDlg::DoDataExchange() {
    if (Mode() == 0) {
        DDX_Control(IDC_DELETE_BACKUP, m_btnDelBak);
        DDX_Control(IDC_STATUS, m_stcStatus);
        DDX_Control(IDC_INFO, m_edtInfo);
    }
    DDX_Control(IDC_EXIT, m_btnExit);
    DDX_Control(IDC_EXECUTE, m_btnExec);
}

BOOL CZynUpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (!ReadSetting(FALSE, TRUE))
        return FALSE;
    SetWindowText(StrFormat("%sオンラインアップデート", m_strAppName.c_str()));
    if (Mode() == 0)
        m_stcStatus.SetWindowText("");  // stays empty until the first check writes it
    ResetControls();
    // The simple dialog checks at once, but shown first: 終了 answers while the server is asked.
    if (Mode() != 0)
        ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CHECK_UPDATE, BN_CLICKED), 0);
    return TRUE;
}

BOOL CZynUpdateDlg::OnCommand(UINT id, UINT code) {
    switch (id) {
    case IDC_CHECK_UPDATE:
    case IDC_RESTORE:
        if (code == BN_CLICKED)
            OnSelect();
        return TRUE;
    case IDC_EXECUTE:
        OnExecute();
        return TRUE;
    case IDC_DELETE_BACKUP:
        OnDeleteBackup();
        return TRUE;
    case IDC_EXIT:
        OnExit();
        return TRUE;
    default:
        return CDialog::OnCommand(id, code);
    }
}

BOOL CZynUpdateDlg::OnPaint() {
    if (!::IsIconic(m_hWnd))
        return FALSE;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    int left = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int top = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, left, top, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
    return TRUE;
}

HCURSOR CZynUpdateDlg::OnQueryDragIcon() { return m_hIcon; }

HBRUSH CZynUpdateDlg::OnCtlColor(HDC dc, HWND control, UINT) {
    // The read-only pane is drawn like an editable one.
    if (::GetDlgCtrlID(control) != IDC_INFO)
        return nullptr;
    ::SetBkColor(dc, RGB(255, 255, 255));
    return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

void CZynUpdateDlg::ResetControls() {
    if (Mode() == 0) {
        m_edtInfo.SetWindowText("");
        ::CheckDlgButton(m_hWnd, IDC_CHECK_UPDATE, BST_UNCHECKED);
        ::CheckDlgButton(m_hWnd, IDC_RESTORE, BST_UNCHECKED);
        m_btnDelBak.EnableWindow(m_nLogCount != 0);
    }
    m_btnExec.EnableWindow(FALSE);
}

CZynUpdateDlg::Operation CZynUpdateDlg::ChosenOperation() const {
    if (Mode() != 0)
        return kUpdate;
    if (::IsDlgButtonChecked(m_hWnd, IDC_CHECK_UPDATE) == BST_CHECKED)
        return kUpdate;
    if (::IsDlgButtonChecked(m_hWnd, IDC_RESTORE) == BST_CHECKED)
        return kRestore;
    return kNone;
}

void CZynUpdateDlg::OnSelect() {
    CountRollbackLogs();
    Operation operation = ChosenOperation();
    if (operation == kNone)
        return;
    int result = operation == kUpdate ? CheckUpdate(FALSE) : ShowRestoreCount();
    if (result == 0) {
        ResetControls();
        return;
    }
    if (Mode() == 0)
        DispInfo(operation == kRestore);
    m_btnExec.EnableWindow(TRUE);
}

void CZynUpdateDlg::OnExecute() {
    Operation operation = ChosenOperation();
    if (operation == kNone || !LockInstallation())
        return;
    const char* word = operation == kUpdate ? "更新" : "復元";
    // Another copy may have changed the generations since they were counted.
    CountRollbackLogs();
    BOOL result = FALSE;
    if (operation == kUpdate) {
        result = ExecUpdate();
    } else if (CanWriteInstallation()) {
        result = Restore();
    } else {
        result = RunElevated(kElevatedRestore, "復元") == 0;
    }
    m_lock.Release();
    Person().Show(StrFormat(result ? "%sに成功しました" : "%sを中断しました", word), "", MB_OK | MB_ICONINFORMATION);
    if (result && Mode() == 1 && Person().Show("ホルビアを起動しますか？", "", MB_YESNO, CQuestion::kStartCad) == IDYES) {
        if (StartDataManager())
            EndDialog(IDOK);
    }
    ResetControls();
}

void CZynUpdateDlg::OnDeleteBackup() {
    if (Person().Show("全退避ﾌｧｲﾙを削除しますか？\n(削除すると復元できなくなります)", "", MB_YESNO | MB_DEFBUTTON2,
                      CQuestion::kDeleteAllBackups) != IDYES ||
        !LockInstallation())
        return;
    if (CanWriteInstallation()) {
        DeleteAllBackups(TRUE);
    } else {
        RunElevated(kElevatedDelete, "退避ﾌｧｲﾙの削除");
    }
    m_lock.Release();
    ResetControls();
}

void CZynUpdateDlg::OnExit() { EndDialog(IDOK); }

BOOL CZynUpdateDlg::StartDataManager() {
    std::string command = RixJoinPath(m_pApp->m_strHome, "ZynImpDataManager.exe") + " -NAME dovi";
    DWORD exitCode = 0;
    if (RixCmdExecute(command.c_str(), 1, 0, nullptr, &exitCode, nullptr) == 0)
        return TRUE;
    Person().Show("ホルビアの起動に失敗しました。", "", MB_OK | MB_ICONINFORMATION);
    return FALSE;
}

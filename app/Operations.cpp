// The dialog's operations: the parts of the engine built on the run's state, and the start that joins
// them in their order.
#include "Format.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

CDiscovery CZynUpdateDlg::Discovery() {
    return CDiscovery(*this, *this, *this, Person(), Mode(), m_pApp->m_strHome);
}

CBackups CZynUpdateDlg::Backups() {
    return CBackups(*this, *this, *this, *this, *this, Person(), Mode(), m_pApp->m_pszHelpFilePath,
                    m_pApp->m_pszAppName);
}

// The status line shows what the installed version's discovery found, whenever it runs for the dialog.
void CZynUpdateDlg::ShowStatus(BOOL bQuiet) {
    if (!bQuiet && Mode() == 0 && !m_strStatus.empty())
        m_stcStatus.SetWindowText(m_strStatus);
}

int CZynUpdateDlg::GetZynInfo(BOOL bQuiet) {
    const int found = Discovery().GetZynInfo();
    ShowStatus(bQuiet);
    return found;
}

int CZynUpdateDlg::CheckUpdate(BOOL bQuiet) {
    const int revision = Discovery().CheckUpdate(bQuiet);
    ShowStatus(bQuiet);
    return revision;
}

BOOL CZynUpdateDlg::ReadSetting(BOOL bQuiet, BOOL bRecover) {
    // The settings' failures are the application's messages; in the dialog they close it.
    auto fail = [this, bQuiet](const std::string& message) {
        if (!message.empty())
            Person().Show(message, "", MB_OK, CQuestion::kNone, CCause::kOther);
        if (!bQuiet)
            EndDialog(IDCANCEL);
        return FALSE;
    };
    CDiscovery discovery = Discovery();
    if (!discovery.ReadSettingsFile(m_pApp->m_pszAppName))
        return fail("");
    // What a killed run left is dealt with before the Ver files are looked at: a half-written one is
    // no Ver file, and a question about Ver files must not keep an interrupted update from being undone.
    if (bRecover) {
        discovery.FindInstallation();
        CBackups backups = Backups();
        // What a run with administrator rights left, only such a run can undo or finish.
        const BOOL bMayRecover = backups.FindGenerations(TRUE).empty() || backups.CanWriteInstallation();
        if (!bMayRecover)
            NeedRights("前回中断された作業の復旧");
        BOOL recovered = bMayRecover && backups.LockInstallation() && backups.RecoverInterruptedWork();
        m_lock.Release();
        if (!recovered)
            return fail("");
    }
    if (!GetZynInfo(bQuiet))
        return fail(StrFormat("%sのﾊﾞｰｼﾞｮﾝを取得できませんでした", m_strAppName.c_str()));
    discovery.UseVolumeTempFolder(m_pApp->m_pszAppName);
    CountRollbackLogs();
    discovery.MakeAgentString();
    return TRUE;
}

#include <algorithm>

#include "Format.h"
#include "MessageBox.h"
#include "ProgressDlg.h"
#include "ZynUpdateDlg.h"

// The backups go first and the log last, under a record that lets the next start finish a
// deletion that was cut short: a log whose backups are partly gone is never restored.
BOOL CZynUpdateDlg::DeleteBackups(int g) {
    BeginWork(g, "delete");
    const int count = static_cast<int>(m_files.size());
    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, count);
    progress.SetWindowText("退避ﾌｧｲﾙを削除中");
    progress.EnableCancel(FALSE);
    std::string src, dst, bak;
    for (int i = 0; i < count; ++i) {
        GetBackupNames(TRUE, i, src, dst, bak, g);
        const bool shown = progress.IsDue() || i + 1 == count;
        if (shown)
            progress.SetMessage(StrFormat("退避ﾌｧｲﾙ[%s]を削除中", src.c_str()));
        ::DeleteFileA(src.c_str());  // a file that cannot be deleted simply stays
        if (shown)
            progress.SetPos(i + 1);
    }
    std::string logName;
    GetRollbackLogName(g, logName);
    if (::DeleteFileA(logName.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND)
        EndWork(g);
    return TRUE;
}

// Every generation present is attempted whatever bStopOnError says, those beyond a gap
// too: a single deletion reports no failure.
BOOL CZynUpdateDlg::DeleteAllBackups(BOOL /*bStopOnError*/) {
    for (int g : FindGenerations(FALSE))
        DeleteGeneration(g);
    CountRollbackLogs();
    return TRUE;
}

BOOL CZynUpdateDlg::ClearStrayGenerations() {
    std::vector<int> strays = FindGenerations(FALSE);
    strays.erase(std::remove_if(strays.begin(), strays.end(), [this](int g) { return g <= m_nLogCount; }),
                 strays.end());
    if (strays.empty())
        return TRUE;
    std::string names;
    for (int g : strays) {
        std::string log;
        GetRollbackLogName(g, log);
        names += log + "\n";
    }
    if (AfxMessageBox("前の世代が欠けているため復元できない退避ﾌｧｲﾙがあります\n" + names + "削除して更新を続行しますか？",
                      MB_YESNO | MB_DEFBUTTON2) != IDYES)
        return FALSE;
    for (int g : strays)
        DeleteGeneration(g);
    return TRUE;
}

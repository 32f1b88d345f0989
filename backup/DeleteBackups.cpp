#include "Backups.h"

#include <algorithm>

#include "Format.h"
#include "InstallFile.h"

// The backups go first and the log last, under a record that lets the next start finish a
// deletion that was cut short: a log whose backups are partly gone is never restored.
BOOL CBackups::DeleteBackups(int g) {
    if (!BeginWork(g, "delete")) {
        std::string record;
        GetWorkRecordName(g, record);
        const DWORD error = ::GetLastError();
        ShowFileFailure(m_person, StrFormat("作業記録ﾌｧｲﾙ[%s]を作成できませんでした", record.c_str()),
                        "CZynUpdateDlg::DeleteBackups", error);
        return FALSE;
    }
    const int count = static_cast<int>(m_work.m_files.size());
    std::unique_ptr<CProgress> progress = m_person.StartProgress();
    progress->SetRange(0, count);
    progress->SetCaption("退避ﾌｧｲﾙを削除中");
    progress->EnableCancel(FALSE);
    std::string src, dst, bak, kept;
    DWORD keptError = ERROR_SUCCESS;
    for (int i = 0; i < count; ++i) {
        GetBackupNames(TRUE, i, src, dst, bak, g);
        const bool shown = progress->IsDue() || i + 1 == count;
        if (shown)
            progress->SetMessage(StrFormat("退避ﾌｧｲﾙ[%s]を削除中", src.c_str()));
        if (!RixDeleteFile(src) && kept.empty()) {
            kept = src;
            keptError = ::GetLastError();
        }
        if (shown)
            progress->SetPos(i + 1);
    }
    std::string addedName, logName;
    GetAddedListName(g, addedName);
    GetRollbackLogName(g, logName);
    // A backup that stays keeps its log, so that the next start or deletion can still name it.
    if (!kept.empty()) {
        ShowFileFailure(m_person, StrFormat("退避ﾌｧｲﾙ[%s]を削除できませんでした", kept.c_str()),
                        "CZynUpdateDlg::DeleteBackups", keptError);
        return FALSE;
    }
    if (!RixDeleteFile(addedName) || !RixDeleteFile(logName))
        return FALSE;
    EndWork(g);
    return TRUE;
}

// Every generation present is attempted whatever bStopOnError says, those beyond a gap
// too; FALSE when one of them stays in part.
BOOL CBackups::DeleteAllBackups(BOOL /*bStopOnError*/) {
    BOOL all = TRUE;
    for (int g : FindGenerations(FALSE))
        all = DeleteGeneration(g) && all;
    CountRollbackLogs();
    return all;
}

BOOL CBackups::ClearStrayGenerations() {
    // Counted here, where the question is decided: a count from a start that failed would take real
    // generations for strays.
    CountRollbackLogs();
    std::vector<int> strays = FindGenerations(FALSE);
    strays.erase(std::remove_if(strays.begin(), strays.end(), [this](int g) { return g <= m_generations.m_nLogCount; }),
                 strays.end());
    if (strays.empty())
        return TRUE;
    std::string names;
    for (int g : strays) {
        std::string log;
        GetRollbackLogName(g, log);
        names += log + "\n";
    }
    if (m_person.Show("前の世代が欠けているため復元できない退避ﾌｧｲﾙがあります\n" + names + "削除して更新を続行しますか？", "",
                      MB_YESNO | MB_DEFBUTTON2, CQuestion::kStrayGenerations) != IDYES)
        return FALSE;
    for (int g : strays) {
        if (!DeleteGeneration(g))
            return FALSE;
    }
    return TRUE;
}

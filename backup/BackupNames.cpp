#include "Backups.h"

#include <algorithm>
#include <climits>

#include "Format.h"
#include "RixPath.h"


std::vector<std::string> CBackups::InstallationFolders() const {
    std::string program;
    RixGetModulePath(program, FALSE);
    std::vector<std::string> folders = {m_installation.m_strCadFolder};
    if (!RixIsInFolder(program, m_installation.m_strCadFolder))
        folders.push_back(program);
    return folders;
}

BOOL CBackups::IsInInstallation(const std::string& path) const {
    const std::string full = RixFullPath(path);
    const std::vector<std::string> folders = InstallationFolders();
    return !full.empty() && std::any_of(folders.begin(), folders.end(),
                                        [&full](const std::string& folder) { return RixIsInFolder(full, folder); });
}

BOOL CBackups::LockInstallation() {
    if (m_generations.m_lock.Acquire(m_installation.m_strCadFolder))
        return TRUE;
    m_person.Show(StrFormat("別の%sが[%s]を処理中です\n終了してからやり直してください", m_strProgramName.c_str(),
                            m_installation.m_strCadFolder.c_str()),
                  "", MB_OK | MB_ICONSTOP, CQuestion::kNone, CCause::kAnotherCopy);
    return FALSE;
}

void CBackups::GetRollbackLogName(int n, std::string& out) {
    out = m_strHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".LOG%d", n).c_str());
}

void CBackups::GetAddedListName(int n, std::string& out) {
    out = m_strHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".ADD%d", n).c_str());
}

BOOL CBackups::CountRollbackLogs() {
    m_generations.m_nLogCount = 0;
    std::string log;
    for (int n = 1; n < INT_MAX; ++n) {
        GetRollbackLogName(n, log);
        if (log.empty() || !RixExists(log))
            break;
        m_generations.m_nLogCount = n;
    }
    return TRUE;
}

BOOL CBackups::ShowRestoreCount() {
    if (m_generations.m_nLogCount < 1) {
        m_person.Show("現在復元対象のﾌｧｲﾙはありません", "", MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }
    m_person.Show(StrFormat("%d回の復元が可能です", m_generations.m_nLogCount), "", MB_OK | MB_ICONINFORMATION);
    return TRUE;
}

void CBackups::GetBackupNames(BOOL bRestore, int index, std::string& src, std::string& dst, std::string& bak,
                                   int generation) {
    int g = generation == -1 ? m_generations.m_nLogCount : generation;
    const std::string& entry = m_work.m_files[static_cast<size_t>(index)];
    if (!bRestore) {
        src = entry;
        dst = ::InstalledPath(entry, m_settings.m_strWorkDir, m_installation.m_strCadDir);
        bak = dst + StrFormat(".BAK%d", g);
    } else {
        src = entry + StrFormat(".BAK%d", g);
        dst = entry;
        bak = entry + ".ORG";
    }
}

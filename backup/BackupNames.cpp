#include <io.h>

#include <climits>

#include "Format.h"
#include "MessageBox.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty())
        return text;
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}
}  // namespace

std::string CZynUpdateDlg::InstalledPath(const std::string& file) const {
    return ReplaceAll(file, m_strWorkDir, m_strCadDir);
}

void CZynUpdateDlg::GetRollbackLogName(int n, std::string& out) {
    out = m_pApp->m_pszHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".LOG%d", n).c_str());
}

void CZynUpdateDlg::GetAddedListName(int n, std::string& out) {
    out = m_pApp->m_pszHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".ADD%d", n).c_str());
}

BOOL CZynUpdateDlg::CountRollbackLogs() {
    m_nLogCount = 0;
    std::string log;
    for (int n = 1; n < INT_MAX; ++n) {
        GetRollbackLogName(n, log);
        if (log.empty() || _access(log.c_str(), 0) != 0)
            break;
        m_nLogCount = n;
    }
    return TRUE;
}

BOOL CZynUpdateDlg::ShowRestoreCount() {
    if (m_nLogCount < 1) {
        AfxMessageBox("現在復元対象のﾌｧｲﾙはありません", MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }
    AfxMessageBox(StrFormat("%d回の復元が可能です", m_nLogCount), MB_OK | MB_ICONINFORMATION);
    return TRUE;
}

void CZynUpdateDlg::GetBackupNames(BOOL bRestore, int index, std::string& src, std::string& dst, std::string& bak,
                                   int generation) {
    int g = generation == -1 ? m_nLogCount : generation;
    const std::string& entry = m_files[static_cast<size_t>(index)];
    if (!bRestore) {
        src = entry;
        dst = InstalledPath(entry);
        bak = dst + StrFormat(".BAK%d", g);
    } else {
        src = entry + StrFormat(".BAK%d", g);
        dst = entry;
        bak = entry + ".ORG";
    }
}

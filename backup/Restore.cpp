#include <io.h>

#include <cstdio>

#include "Format.h"
#include "Handle.h"
#include "RixPath.h"
#include "ZynUpdateDlg.h"

namespace {
const char kCaption[] = "CZynUpdateDlg::ReadRollbackLog";
}

BOOL CZynUpdateDlg::ReadRollbackLog(BOOL bStopOnMissing, int generation) {
    const int g = generation == -1 ? m_nLogCount : generation;
    std::string logName;
    GetRollbackLogName(g, logName);
    CStdioFile log(std::fopen(logName.c_str(), "rt"));
    if (!log) {
        MessageBox(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]をｵｰﾌﾟﾝできませんでした", logName.c_str()), kCaption, MB_OK);
        return FALSE;
    }
    const std::string generationExt = StrFormat(".BAK%d", g);
    m_files.clear();

    char piece[MAX_PATH];
    while (std::fgets(piece, sizeof(piece), log.get())) {
        std::string backup;
        for (const char* c = piece; *c; ++c)
            if (*c != '\n')
                backup += *c;
        std::string ext = backup;
        RixSetPathParts(ext, "", "", "", nullptr);
        if (_stricmp(ext.c_str(), generationExt.c_str()) != 0)
            continue;  // a line of another generation, or no backup name at all
        if (_access(backup.c_str(), 0) != 0) {
            if (!bStopOnMissing)
                continue;
            MessageBox(StrFormat("復元ﾛｸﾞに記載されたﾌｧｲﾙ[%s]がありません\n復元を中断します", backup.c_str()), kCaption,
                       MB_OK);
            return FALSE;
        }
        RixSetPathParts(backup, nullptr, nullptr, nullptr, "");
        m_files.push_back(backup);
    }
    return TRUE;
}

BOOL CZynUpdateDlg::Restore() {
    if (!ReadRollbackLog(TRUE))
        return FALSE;
    if (!CheckFilesInUse(m_files))
        return FALSE;
    // On failure the safety copies have been put back and the generation stays whole.
    if (!Replace(TRUE))
        return FALSE;
    DeleteBackups(m_nLogCount);
    --m_nLogCount;
    return TRUE;
}

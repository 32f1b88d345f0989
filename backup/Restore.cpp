#include "Backups.h"

#include "Format.h"
#include "RecordFile.h"
#include "RixPath.h"

namespace {
const char kCaption[] = "CZynUpdateDlg::ReadRollbackLog";
}

BOOL CBackups::ReadRollbackLog(BOOL bStopOnMissing, int generation, BOOL bCutShort) {
    const int g = generation == -1 ? m_generations.m_nLogCount : generation;
    std::string logName;
    GetRollbackLogName(g, logName);
    std::vector<std::string> lines;
    bool bCut = false;
    const CRecordState state = ReadRecordLines(logName, lines, bCut);
    if (state == kRecordMissing) {
        m_person.Show(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]をｵｰﾌﾟﾝできませんでした", logName.c_str()), kCaption, MB_OK);
        return FALSE;
    }
    // Every line of a finished log reached the disk whole, and it lists at least one: one that does not is
    // no log to restore from.
    if (state == kRecordDamaged || (!bCutShort && (bCut || lines.empty()))) {
        m_person.Show(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]が壊れています", logName.c_str()), kCaption, MB_OK);
        return FALSE;
    }
    const std::string generationExt = StrFormat(".BAK%d", g);
    m_work.m_files.clear();
    for (std::string backup : lines) {
        std::string ext = backup;
        RixSetPathParts(ext, "", "", "", nullptr);
        if (_stricmp(ext.c_str(), generationExt.c_str()) != 0)
            continue;  // a line of another generation, or no backup name at all
        if (!IsInInstallation(backup)) {
            m_work.m_files.clear();
            m_person.Show(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[%s]が記載されています", logName.c_str(),
                                 backup.c_str()),
                       kCaption, MB_OK);
            return FALSE;
        }
        if (!RixExists(backup)) {
            if (!bStopOnMissing)
                continue;
            m_person.Show(StrFormat("復元ﾛｸﾞに記載されたﾌｧｲﾙ[%s]がありません\n復元を中断します", backup.c_str()), kCaption,
                       MB_OK);
            return FALSE;
        }
        RixSetPathParts(backup, nullptr, nullptr, nullptr, "");
        m_work.m_files.push_back(backup);
    }
    return TRUE;
}

BOOL CBackups::ReadAddedList(int g) {
    std::string name;
    GetAddedListName(g, name);
    std::vector<std::string> lines;
    bool bCut = false;
    m_generations.m_added.clear();
    const CRecordState state = ReadRecordLines(name, lines, bCut);
    if (state == kRecordMissing)
        return TRUE;  // an update of an earlier version, or one that added nothing
    CAddedEntry entry;
    for (const std::string& line : lines) {
        if (state != kRecordRead || !ParseAddedLine(line, entry))
            break;
        if (!IsInInstallation(entry.path)) {
            m_generations.m_added.clear();
            m_person.Show(StrFormat("追加ﾌｧｲﾙ一覧[%s]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[%s]が記載されています", name.c_str(),
                                 entry.path.c_str()),
                       kCaption, MB_OK);
            return FALSE;
        }
        m_generations.m_added.push_back(entry);
    }
    if (state == kRecordRead && !bCut && !lines.empty() && m_generations.m_added.size() == lines.size())
        return TRUE;
    m_generations.m_added.clear();
    m_person.Show(StrFormat("追加ﾌｧｲﾙ一覧[%s]が壊れています", name.c_str()), kCaption, MB_OK);
    return FALSE;
}

BOOL CBackups::Restore() {
    if (!ReadRollbackLog(TRUE) || !ReadAddedList(m_generations.m_nLogCount))
        return FALSE;
    std::vector<std::string> touched = m_work.m_files;
    for (const CAddedEntry& entry : m_generations.m_added) {
        if (!entry.bFolder)
            touched.push_back(entry.path);
    }
    if (!Extraction().CheckFilesInUse(touched))
        return FALSE;
    // On failure the safety copies have been put back and the generation stays whole.
    if (!Replace(TRUE))
        return FALSE;
    // What cannot be deleted now stays with its record, for the next start to finish.
    DeleteBackups(m_generations.m_nLogCount);
    --m_generations.m_nLogCount;
    return TRUE;
}

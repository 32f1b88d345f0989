#include "Backups.h"

// A generation's unfinished work leaves a record beside its rollback log, B.RUNn, from before its first
// change until its last. The first line names the work; each further line names an installed file before
// that file is touched ("*" in front of a file that did not exist, "+" in front of a folder about to be
// made), and reaches the disk before the file is renamed. A log without a record is a finished
// generation, as every log of earlier versions is. The next start that may change files, before it looks
// at the Ver files:
// - "update" (with backups): puts every backup back, removes what the update added;
// - "install" (an update without backups, which nothing can undo): clears what was half written and says
//   so; the Ver file goes in last, so the update is offered again;
// - "restore": finishes the restore, whose backups are all still there;
// - "delete": finishes the deletion of the generation.

#include <algorithm>
#include <set>

#include "Format.h"
#include "InstallFile.h"
#include "RecordFile.h"
#include "RixPath.h"

namespace {
const char kUpdating[] = "update";
const char kInstalling[] = "install";
const char kRestoring[] = "restore";
const char kDeleting[] = "delete";

// A line of a record after its first: the path, and what was done to it.
struct CTouched {
    enum Kind { kChanged, kCreated, kFolder } kind;
    std::string path;
};

CTouched Touched(const std::string& line) {
    if (line.compare(0, 1, "*") == 0)
        return {CTouched::kCreated, line.substr(1)};
    if (line.compare(0, 1, "+") == 0)
        return {CTouched::kFolder, line.substr(1)};
    return {CTouched::kChanged, line};
}

const char kRecordAdvice[] = "\nｲﾝｽﾄｰﾙ先を確認してからこのﾌｧｲﾙを削除し、起動し直してください";
}  // namespace

void CBackups::GetWorkRecordName(int n, std::string& out) {
    out = m_strHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".RUN%d", n).c_str());
}

BOOL CBackups::BeginWork(int g, const char* kind, CRecordWriter* keepOpen) {
    std::string name;
    GetWorkRecordName(g, name);
    // Replaced whole, so that a kill never leaves a record that names no work.
    if (!ReplaceRecord(name, {kind}))
        return FALSE;
    return !keepOpen || keepOpen->Append(name);
}

void CBackups::EndWork(int g) {
    std::string name;
    GetWorkRecordName(g, name);
    RixDeleteFile(name);
}

BOOL CBackups::ReadWorkRecord(int g, std::string& kind, std::vector<std::string>& lines) {
    std::string name;
    GetWorkRecordName(g, name);
    bool bCut = false;  // a line cut short named a file not yet touched: it reached the disk before
    const CRecordState state = ReadRecordLines(name, lines, bCut);
    kind = lines.empty() ? std::string() : lines.front();
    if (!lines.empty())
        lines.erase(lines.begin());
    std::string outside;
    for (const std::string& line : lines) {
        if (outside.empty() && !IsInInstallation(Touched(line).path))
            outside = Touched(line).path;
    }
    std::string problem;
    if (state != kRecordRead || (kind != kUpdating && kind != kInstalling && kind != kRestoring && kind != kDeleting))
        problem = StrFormat("作業記録ﾌｧｲﾙ[%s]が壊れているため前回中断された処理を確認できません", name.c_str());
    else if (!outside.empty())
        problem = StrFormat("作業記録ﾌｧｲﾙ[%s]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[%s]が記載されています", name.c_str(), outside.c_str());
    if (problem.empty())
        return TRUE;
    m_person.Show(problem + kRecordAdvice, "", MB_OK | MB_ICONSTOP, CQuestion::kNone, CCause::kRecovery);
    return FALSE;
}

std::vector<int> CBackups::FindGenerations(BOOL bRecords) {
    std::string pattern;
    if (bRecords)
        GetWorkRecordName(0, pattern);
    else
        GetRollbackLogName(0, pattern);
    if (pattern.empty())
        return {};
    pattern.pop_back();  // "...LOG0" -> "...LOG", the part every generation's name starts with
    std::string folder = pattern, prefix = pattern;
    RixSetPathParts(folder, nullptr, nullptr, "", "");
    RixSetPathParts(prefix, "", "", nullptr, nullptr);
    CFindDataList found;
    RixFindFiles(folder, (prefix + "*").c_str(), found, FALSE);
    std::vector<int> generations;
    for (const WIN32_FIND_DATAA& file : found) {
        const char* number = file.cFileName + pattern.size();
        int g = std::atoi(number);
        if (g > 0 && StrFormat("%d", g) == number)
            generations.push_back(g);
    }
    std::sort(generations.rbegin(), generations.rend());
    return generations;
}

BOOL CBackups::DeleteGeneration(int g) {
    std::string log;
    GetRollbackLogName(g, log);
    m_work.m_files.clear();
    if (RixExists(log) && !ReadRollbackLog(FALSE, g))
        return FALSE;
    return DeleteBackups(g);
}

BOOL CBackups::UndoUpdate(int g, CProgress& progress) {
    std::string kind, log, added;
    std::vector<std::string> touched;
    GetRollbackLogName(g, log);
    GetAddedListName(g, added);
    if (!ReadWorkRecord(g, kind, touched))
        return FALSE;
    // Only a backup that its log lists is whole; the installed file changed only after that line.
    m_work.m_files.clear();
    if (RixExists(log) && !ReadRollbackLog(FALSE, g, TRUE))
        return FALSE;
    const std::set<std::string> backedUp(m_work.m_files.begin(), m_work.m_files.end());
    // Newest first: a folder the update made is reached once every file in it is gone again.
    for (size_t i = touched.size(); i-- > 0;) {
        const CTouched line = Touched(touched[i]);
        const std::string& dst = line.path;
        const std::string bak = dst + StrFormat(".BAK%d", g);
        const bool shown = progress.IsDue() || i == 0 || i + 1 == touched.size();  // as it starts and ends too
        if (line.kind == CTouched::kFolder) {
            ::RemoveDirectoryA(dst.c_str());  // stays when something else is in it
        } else {
            RixDeleteFile(dst + kInstallTempSuffix);
            if (line.kind == CTouched::kCreated)
                RixDeleteFile(dst);
            else if (backedUp.count(dst) != 0 && !PutBack(bak, dst, shown ? &progress : nullptr))
                return FALSE;
            // Put back, or never whole: either way no log will list it.
            if (line.kind == CTouched::kChanged)
                RixDeleteFile(bak);
        }
        if (shown)
            progress.SetPos(static_cast<int>(i));
    }
    RixDeleteFile(added);
    RixDeleteFile(log);
    EndWork(g);
    return TRUE;
}

BOOL CBackups::PutBack(const std::string& bak, const std::string& dst, CProgress* progress) {
    if (progress)
        progress->SetMessage(StrFormat("退避ﾌｧｲﾙ[%s]から元ﾌｧｲﾙ[%s]に復元中", bak.c_str(), dst.c_str()));
    // A file that the failed copy left untouched (read-only, locked) is not written again.
    if (RixCompareFiles(bak, dst) == 0 || InstallFile(bak, dst, CSource::kBackup))
        return TRUE;
    const DWORD error = ::GetLastError();
    ShowFileFailure(m_person, StrFormat("退避ﾌｧｲﾙ[%s]から元ﾌｧｲﾙ[%s]に復元できませんでした", bak.c_str(), dst.c_str()),
                    "CZynUpdateDlg::Replace", error);
    return FALSE;
}

namespace {
// Names that a kill or a power cut may leave without a line that reached the disk: a line is flushed only
// before the rename it announces, not before the backup or the temporary file made ahead of it.
void DeleteEverywhere(const std::vector<std::string>& folders, const std::string& pattern) {
    for (const std::string& folder : folders) {
        CFindDataList found;
        RixFindFiles(folder, pattern.c_str(), found, TRUE);
        for (const WIN32_FIND_DATAA& file : found)
            RixDeleteFile(file.cFileName);
    }
}
}  // namespace

BOOL CBackups::RecoverInterruptedWork() {
    std::string self;
    RixGetModulePath(self, TRUE);
    RixDeleteFile(self + kAsideSuffix);  // stays while the copy that was put aside still runs
    const std::vector<std::string> folders = InstallationFolders();

    const std::vector<int> records = FindGenerations(TRUE);
    for (int g : records) {
        std::string kind;
        std::vector<std::string> touched;
        if (!ReadWorkRecord(g, kind, touched))
            return FALSE;
        if (kind == kUpdating) {
            BOOL undone = FALSE;
            {
                std::unique_ptr<CProgress> progress = m_person.StartProgress();
                progress->SetRange(0, static_cast<int>(touched.size()));
                progress->EnableCancel(FALSE);
                progress->SetCaption("復元中");
                undone = UndoUpdate(g, *progress);
            }
            if (!undone) {
                m_person.Show("前回中断された更新を元に戻せませんでした\n使用中のﾌｧｲﾙを閉じてから起動し直してください", "",
                              MB_OK | MB_ICONSTOP, CQuestion::kNone, CCause::kRecovery);
                return FALSE;
            }
            // A backup whose line never reached the disk was made of a file that was never replaced.
            DeleteEverywhere(folders, StrFormat("*.BAK%d", g));
            m_person.Show("前回中断された更新を元に戻しました", "", MB_OK | MB_ICONINFORMATION);
        } else if (kind == kInstalling) {
            for (const std::string& line : touched)
                RixDeleteFile(Touched(line).path + kInstallTempSuffix);
            EndWork(g);
            m_person.Show("前回の更新は中断されました\n更新をやり直してください", "", MB_OK | MB_ICONINFORMATION);
        } else if (kind == kRestoring) {
            m_generations.m_nLogCount = g;
            if (!Restore()) {
                m_person.Show("前回中断された復元を完了できませんでした\n使用中のﾌｧｲﾙを閉じてから起動し直してください", "",
                              MB_OK | MB_ICONSTOP, CQuestion::kNone, CCause::kRecovery);
                return FALSE;
            }
            m_person.Show("前回中断された復元を完了しました", "", MB_OK | MB_ICONINFORMATION);
        } else {
            DeleteGeneration(g);  // what stays is tried again at the next start
        }
    }
    if (!records.empty())
        DeleteEverywhere(folders, std::string("*") + kInstallTempSuffix);
    CountRollbackLogs();
    return TRUE;
}

// A generation's unfinished work leaves a record beside its rollback log, B.RUNn, from
// before its first change until its last: the first line names the work ("update",
// "restore", "delete"), each further line an installed file, written before that file is
// touched, "*" in front of a file that did not exist. A log without a record is a
// finished generation, as every log of earlier versions is. The next start that may
// change files undoes an interrupted update, finishes an interrupted deletion and clears
// what a kill left half-written.
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "Format.h"
#include "InstallFile.h"
#include "MessageBox.h"
#include "ProgressDlg.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
const char kUpdating[] = "update";
const char kRestoring[] = "restore";

bool Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

// The first line, and the other lines without their line ends.
std::string ReadRecord(const std::string& path, std::vector<std::string>& lines) {
    lines.clear();
    CStdioFile record(std::fopen(path.c_str(), "rt"));
    char line[MAX_PATH + 2];
    while (record && std::fgets(line, sizeof(line), record.get())) {
        line[std::strcspn(line, "\n")] = '\0';
        lines.push_back(line);
    }
    std::string kind = lines.empty() ? "" : lines.front();
    if (!lines.empty())
        lines.erase(lines.begin());
    return kind;
}

// The installed file a line of the record names; created tells whether it was new.
std::string TouchedFile(const std::string& line, bool& created) {
    created = line.compare(0, 1, "*") == 0;
    return line.substr(created ? 1 : 0);
}
}  // namespace

void CZynUpdateDlg::GetWorkRecordName(int n, std::string& out) {
    out = m_pApp->m_pszHelpFilePath;
    RixSetPathParts(out, nullptr, nullptr, nullptr, StrFormat(".RUN%d", n).c_str());
}

BOOL CZynUpdateDlg::BeginWork(int g, const char* kind, CStdioFile* keepOpen) {
    std::string name;
    GetWorkRecordName(g, name);
    CStdioFile record(std::fopen(name.c_str(), "wt"));
    if (!record || std::fprintf(record.get(), "%s\n", kind) < 0 || std::fflush(record.get()) != 0)
        return FALSE;
    if (keepOpen)
        keepOpen->reset(record.release());
    return TRUE;
}

void CZynUpdateDlg::EndWork(int g) {
    std::string name;
    GetWorkRecordName(g, name);
    ::DeleteFileA(name.c_str());
}

std::vector<int> CZynUpdateDlg::FindGenerations(BOOL bRecords) {
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

void CZynUpdateDlg::DeleteGeneration(int g) {
    std::string log;
    GetRollbackLogName(g, log);
    m_files.clear();
    if (!Exists(log) || ReadRollbackLog(FALSE, g))
        DeleteBackups(g);
}

BOOL CZynUpdateDlg::UndoUpdate(int g, CProgressDlg& progress) {
    std::string recordName, log;
    GetWorkRecordName(g, recordName);
    GetRollbackLogName(g, log);
    std::vector<std::string> touched;
    ReadRecord(recordName, touched);
    // Only a backup that its log lists is whole; the installed file changed only after that line.
    m_files.clear();
    if (Exists(log) && !ReadRollbackLog(FALSE, g))
        return FALSE;
    const std::set<std::string> backedUp(m_files.begin(), m_files.end());
    for (size_t i = touched.size(); i-- > 0;) {
        bool created = false;
        const std::string dst = TouchedFile(touched[i], created), bak = dst + StrFormat(".BAK%d", g);
        const bool shown = progress.IsDue() || i == 0 || i + 1 == touched.size();  // as it starts and ends too
        ::DeleteFileA((dst + kInstallTempSuffix).c_str());
        if (created) {
            ::DeleteFileA(dst.c_str());
            if (shown)
                progress.SetPos(static_cast<int>(i));
            continue;
        }
        if (backedUp.count(dst) != 0 && !PutBack(bak, dst, shown ? &progress : nullptr))
            return FALSE;
        // Put back, or never whole: either way no log will list it.
        ::DeleteFileA(bak.c_str());
        if (shown)
            progress.SetPos(static_cast<int>(i));
    }
    ::DeleteFileA(log.c_str());
    EndWork(g);
    return TRUE;
}

BOOL CZynUpdateDlg::PutBack(const std::string& bak, const std::string& dst, CProgressDlg* progress) {
    if (progress)
        progress->SetMessage(StrFormat("退避ﾌｧｲﾙ[%s]から元ﾌｧｲﾙ[%s]に復元中", bak.c_str(), dst.c_str()));
    // A file that the failed copy left untouched (read-only, locked) is not written again.
    if (RixCompareFiles(bak, dst) == 0 || InstallFile(bak, dst, CSource::kBackup))
        return TRUE;
    std::string cause = FailureCause(::GetLastError());
    MessageBox(StrFormat("退避ﾌｧｲﾙ[%s]から元ﾌｧｲﾙ[%s]に復元できませんでした%s", bak.c_str(), dst.c_str(), cause.c_str()),
               "CZynUpdateDlg::Replace", MB_OK);
    return FALSE;
}

BOOL CZynUpdateDlg::RecoverInterruptedWork() {
    std::string self;
    RixGetModulePath(self, TRUE);
    ::DeleteFileA((self + kAsideSuffix).c_str());  // stays while the copy that was put aside still runs

    for (int g : FindGenerations(TRUE)) {
        std::string recordName;
        GetWorkRecordName(g, recordName);
        std::vector<std::string> touched;
        const std::string kind = ReadRecord(recordName, touched);
        if (kind == kUpdating) {
            BOOL undone = FALSE;
            {
                CProgressDlg progress;
                progress.Create(this);
                progress.SetRange(0, static_cast<int>(touched.size()));
                progress.EnableCancel(FALSE);
                progress.SetWindowText("復元中");
                undone = UndoUpdate(g, progress);
            }
            if (!undone) {
                AfxMessageBox("前回中断された更新を元に戻せませんでした\n使用中のﾌｧｲﾙを閉じてから起動し直してください",
                              MB_OK | MB_ICONSTOP);
                return FALSE;
            }
            AfxMessageBox("前回中断された更新を元に戻しました", MB_OK | MB_ICONINFORMATION);
            continue;
        }
        bool created = false;
        for (const std::string& line : touched)
            ::DeleteFileA((TouchedFile(line, created) + kInstallTempSuffix).c_str());
        if (kind == kRestoring)
            AfxMessageBox("前回の復元は中断されました\n復元をやり直してください", MB_OK | MB_ICONINFORMATION);
        if (kind == "delete")
            DeleteGeneration(g);
        else
            EndWork(g);
    }
    CountRollbackLogs();
    return TRUE;
}

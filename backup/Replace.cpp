#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "Format.h"
#include "Handle.h"
#include "InstallQueue.h"
#include "MessageBox.h"
#include "ProgressDlg.h"
#include "RixPath.h"
#include "ZynUpdateDlg.h"

namespace {
const char kCaption[] = "CZynUpdateDlg::Replace";

bool FileExists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

CFileHandle OpenToRead(const std::string& path, DWORD access) {
    return CFileHandle(::CreateFileA(path.c_str(), GENERIC_READ | access,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool IsEmptyFile(const std::string& path) {
    struct _stat info;
    return _stat(path.c_str(), &info) == 0 && info.st_size == 0;
}

// A safety copy that this restore wrote: the only kind its undo may copy back, so that
// one left by an earlier run never reaches an installed file.
struct CSavedEntry {
    int index;
    std::string dst;
    std::string bak;
};

// One run of Replace: the per-entry steps and the undo.
class CReplaceRun {
public:
    CReplaceRun(CZynUpdateDlg& dlg, CProgressDlg& progress, BOOL bRestore, FILE* record, FILE* log)
        : m_dlg(dlg), m_progress(progress), m_bRestore(bRestore), m_verb(bRestore ? "復元" : "更新"),
          m_record(record), m_log(log) {}

    // FALSE when the entry failed or the user cancelled; its message has been shown. The
    // progress shows the entry, and Cancel is read, when due and at the last entry.
    BOOL Entry(int index, bool last);
    // Waits until every file handed on is in place or cleared away; FALSE when one
    // failed, with its message unless an entry had already failed.
    BOOL FinishInstalls(bool entryFailed);
    // Puts back every safety copy of a restore, newest first; FALSE (after its message)
    // when one could not be. An update is undone from its record instead.
    BOOL UndoRestore();

private:
    enum Comparison { kSame, kDifferent };
    Comparison Compare(HANDLE source, HANDLE installed, const std::string& src, const std::string& dst);
    BOOL Save(int index, const std::string& dst, const std::string& bak, CFileHandle installed);
    BOOL Install(const std::string& src, const std::string& dst, bool created, CFileHandle source);
    void FailToInstall(const std::string& src, const std::string& dst) {
        Fail(StrFormat("ﾌｧｲﾙ[%s]を[%s]に%sできませんでした", src.c_str(), dst.c_str(), m_verb));
    }
    void FailInstall() { FailToInstall(m_installs.Failure().source, m_installs.Failure().target); }
    void Fail(const std::string& text) {
        std::string cause = FailureCause(::GetLastError());
        m_dlg.MessageBox(text + cause, kCaption, MB_OK);
    }

    CZynUpdateDlg& m_dlg;
    CProgressDlg& m_progress;
    BOOL m_bRestore;
    const char* m_verb;
    FILE* m_record;
    FILE* m_log;  // update only
    std::vector<CSavedEntry> m_saved;
    CInstallQueue m_installs;
};

BOOL CReplaceRun::Entry(int index, bool last) {
    const bool shown = m_progress.IsDue() || last;
    if (shown && m_progress.CheckCancel()) {
        AfxMessageBox(StrFormat("ﾌｧｲﾙの%sを中断しました", m_verb), MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }
    std::string src, dst, bak;
    m_dlg.GetBackupNames(m_bRestore, index, src, dst, bak);

    // Simple modes keep no backups; a file new to the installation needs none.
    const bool created = !FileExists(dst);
    CFileHandle source;     // read for the comparison, then copied or named again
    CFileHandle installed;  // read for the comparison, then named again as its backup
    if (m_dlg.Mode() == 0 && !created) {
        // Opened to be deleted and shared with all, the file opens only while no other
        // program holds it. One held could not be replaced, nor its backup, a second name
        // of it where the volume allows, be removed again.
        installed = OpenToRead(dst, DELETE);
        const bool held = !installed;
        if (held)
            installed = OpenToRead(dst, 0);
        source = OpenToRead(src, 0);
        if (Compare(source.get(), installed.get(), src, dst) == kSame) {
            if (shown)
                m_progress.SetPos(index + 1);
            return TRUE;
        }
        if (held) {
            FailToInstall(src, dst);
            return FALSE;
        }
    }
    // The record names the file before anything of it changes, so that the next start can
    // clear or undo whatever a kill leaves.
    if (std::fprintf(m_record, "%s%s\n", created ? "*" : "", dst.c_str()) < 0 || std::fflush(m_record) != 0) {
        FailToInstall(src, dst);
        return FALSE;
    }
    // The backup takes the installed file's handle and closes it, as no file held open
    // could be replaced.
    if (m_dlg.Mode() == 0 && !created && !Save(index, dst, bak, std::move(installed)))
        return FALSE;
    if (shown)
        m_progress.SetMessage(StrFormat("%sを%s中", dst.c_str(), m_verb));
    if (!Install(src, dst, created, std::move(source)))
        return FALSE;
    if (shown)
        m_progress.SetPos(index + 1);
    return TRUE;
}

CReplaceRun::Comparison CReplaceRun::Compare(HANDLE source, HANDLE installed, const std::string& src,
                                             const std::string& dst) {
    switch (RixCompareOpenFiles(source, installed)) {
    case 0:
        return kSame;
    case 2:  // reported, then handled as a changed file
        Fail(StrFormat("ﾌｧｲﾙ[%s]と[%s]の比較に失敗しました", src.c_str(), dst.c_str()));
        return kDifferent;
    default:
        return kDifferent;
    }
}

BOOL CReplaceRun::Save(int index, const std::string& dst, const std::string& bak, CFileHandle installed) {
    std::string failure = StrFormat("ﾌｧｲﾙ[%s]を[%s]に退避できませんでした", dst.c_str(), bak.c_str());
    if (!DuplicateFile(dst, bak, std::move(installed))) {
        Fail(failure);
        return FALSE;
    }
    if (m_bRestore)
        m_saved.push_back({index, dst, bak});
    // The line must be on disk before dst changes, so that a log left by a crash
    // still names every backup made; a backup that cannot be listed is no backup.
    if (m_log && (std::fprintf(m_log, "%s\n", bak.c_str()) < 0 || std::fflush(m_log) != 0)) {
        Fail(failure);
        return FALSE;
    }
    return TRUE;
}

BOOL CReplaceRun::Install(const std::string& src, const std::string& dst, bool created, CFileHandle source) {
    std::string folder = dst;
    RixSetPathParts(folder, nullptr, nullptr, "", "");
    if (created && !FileExists(folder) && !RixMakeFolder(folder)) {
        Fail(StrFormat("ﾌｫﾙﾀﾞ[%s]を作成できませんでした", folder.c_str()));
        return FALSE;
    }
    if (!m_installs.Add(src, dst, m_bRestore ? CSource::kBackup : CSource::kUpdate, std::move(source))) {
        FailInstall();
        return FALSE;
    }
    return TRUE;
}

BOOL CReplaceRun::FinishInstalls(bool entryFailed) {
    if (m_installs.Finish())
        return TRUE;
    if (!entryFailed)
        FailInstall();
    return FALSE;
}

BOOL CReplaceRun::UndoRestore() {
    for (auto saved = m_saved.rbegin(); saved != m_saved.rend(); ++saved) {
        const bool shown = m_progress.IsDue() || saved == m_saved.rbegin() || saved + 1 == m_saved.rend();
        if (!m_dlg.PutBack(saved->bak, saved->dst, shown ? &m_progress : nullptr))
            return FALSE;
        if (shown)
            m_progress.SetPos(saved->index);
    }
    return TRUE;
}
}  // namespace

BOOL CZynUpdateDlg::Replace(BOOL bRestore) {
    const int g = m_nLogCount;
    std::string logName;
    GetRollbackLogName(g, logName);
    // The record comes first, so that a kill after the log was opened is seen as an unfinished update.
    CStdioFile record, log;
    BOOL begun = BeginWork(g, bRestore ? "restore" : "update", &record);
    if (begun && !bRestore)
        log.reset(std::fopen(logName.c_str(), "wt"));
    if (!begun || (!bRestore && !log)) {
        MessageBox(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]をｵｰﾌﾟﾝできませんでした", logName.c_str()), kCaption, MB_OK);
        EndWork(g);
        return FALSE;
    }

    const int count = static_cast<int>(m_files.size());
    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, count);
    progress.SetWindowText(StrFormat("%s中", bRestore ? "復元" : "更新"));

    CReplaceRun run(*this, progress, bRestore, record.get(), log.get());
    bool failed = false;
    for (int i = 0; i < count && !failed; ++i)
        failed = !run.Entry(i, i + 1 == count);
    // The undo and the next start read the record: nothing may still be on its way.
    failed = !run.FinishInstalls(failed) || failed;
    record.reset();
    log.reset();

    if (failed) {
        // An update whose undo fails keeps its record and log: the next start tries again.
        if (bRestore ? run.UndoRestore() : UndoUpdate(g, progress))
            EndWork(g);
        return FALSE;
    }
    // An update that saved nothing leaves no log.
    if (!bRestore && IsEmptyFile(logName))
        ::DeleteFileA(logName.c_str());
    EndWork(g);
    return TRUE;
}

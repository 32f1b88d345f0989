#include "Backups.h"

#include <atomic>
#include <vector>

#include "Format.h"
#include "Handle.h"
#include "InstallQueue.h"
#include "RecordFile.h"
#include "RixPath.h"

namespace {
const char kCaption[] = "CZynUpdateDlg::Replace";

CFileHandle OpenToRead(const std::string& path, DWORD access) {
    return CFileHandle(::CreateFileA(path.c_str(), GENERIC_READ | access,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// A safety copy that this restore wrote: the only kind its undo may put back, so that one left by an
// earlier run never reaches an installed file. A file the update had added was moved aside whole.
struct CSavedEntry {
    int index;
    std::string dst;
    std::string bak;
    bool bMoved;
};

// One run of Replace: the per-entry steps, the lines that announce them and the undo. Each line reaches
// the disk before the file it names is renamed: the installing thread flushes the record and the log
// once for all the lines written so far, just before a rename that needs them.
class CReplaceRun : public CInstallJournal {
public:
    CReplaceRun(CBackups& backups, CProgress& progress, BOOL bRestore, CRecordWriter& record, CRecordWriter& log,
                CRecordWriter& added)
        : m_backups(backups), m_progress(progress), m_bRestore(bRestore), m_verb(bRestore ? "復元" : "更新"),
          m_record(record), m_log(log), m_added(added), m_installs(this) {}

    // FALSE when the entry failed or the user cancelled; its message has been shown. The
    // progress shows the entry, and Cancel is read, when due and at the last entry.
    BOOL Entry(int index, bool last);
    // An update takes away an installed file that its release no longer has, backed up first like a
    // replaced one; one already gone is no error. Removals come before the entries.
    BOOL Removal(const std::string& dst, bool last);
    // A restore takes away what its update added: each file is moved aside as its safety copy, kept only
    // when it changed since the update.
    BOOL RemoveAdded();
    // Waits until every file handed on is in place or cleared away; FALSE when one
    // failed, with its message unless an entry had already failed.
    BOOL FinishInstalls(bool entryFailed);
    // Drops the safety copies of added files that were as the update left them, and the folders it made.
    void ForgetUnchanged();
    // Puts back every safety copy of a restore, newest first; FALSE (after its message)
    // when one could not be. An update is undone from its record instead.
    BOOL UndoRestore();

    BOOL MakeDurable(ULONGLONG mark) override;

private:
    enum Comparison { kSame, kDifferent };
    Comparison Compare(HANDLE source, HANDLE installed, const std::string& src, const std::string& dst);
    BOOL Save(int index, const std::string& dst, const std::string& bak, CFileHandle installed);
    // Makes the folders a new file needs, each named in the record first.
    BOOL MakeFolders(const std::string& src, const std::string& dst);
    BOOL Install(const std::string& src, const std::string& dst, bool created, CFileHandle source);
    // Writes a line and counts it; FALSE keeps the system's error.
    BOOL Announce(CRecordWriter& file, const std::string& line) {
        if (!file.Write(line))
            return FALSE;
        ++m_nWrittenMark;
        return TRUE;
    }
    void FailToInstall(const std::string& src, const std::string& dst) {
        Fail(StrFormat("ﾌｧｲﾙ[%s]を[%s]に%sできませんでした", src.c_str(), dst.c_str(), m_verb));
    }
    void FailInstall() {
        const CInstallQueue::CFailure& failure = m_installs.Failure();
        if (failure.source == failure.target)  // a removal
            Fail(StrFormat("ﾌｧｲﾙ[%s]を削除できませんでした", failure.target.c_str()));
        else
            FailToInstall(failure.source, failure.target);
    }
    bool Cancelled(bool shown) {
        if (!shown || !m_progress.CheckCancel())
            return false;
        m_backups.Person().Show(StrFormat("ﾌｧｲﾙの%sを中断しました", m_verb), "", MB_OK | MB_ICONINFORMATION);
        return true;
    }
    void Fail(const std::string& text) {
        const DWORD error = ::GetLastError();
        ShowFileFailure(m_backups.Person(), text, kCaption, error);
    }

    CBackups& m_backups;
    CProgress& m_progress;
    BOOL m_bRestore;
    const char* m_verb;
    CRecordWriter& m_record;
    CRecordWriter& m_log;    // update with backups only
    CRecordWriter& m_added;  // update with backups only
    std::vector<CSavedEntry> m_saved;
    std::vector<CAddedEntry> m_movedAside;  // added files moved aside, as the update left them
    int m_nDone = 0;                        // removals and entries handled, for the progress
    std::atomic<ULONGLONG> m_nWrittenMark{0};
    ULONGLONG m_nDurableMark = 0;  // the installing thread's
    CInstallQueue m_installs;
};

BOOL CReplaceRun::MakeDurable(ULONGLONG mark) {
    if (mark <= m_nDurableMark)
        return TRUE;
    const ULONGLONG written = m_nWrittenMark;
    if (!m_record.Flush() || (m_log.IsOpen() && !m_log.Flush()))
        return FALSE;
    m_nDurableMark = written;
    return TRUE;
}

BOOL CReplaceRun::Removal(const std::string& dst, bool last) {
    const bool shown = m_progress.IsDue() || last;
    if (Cancelled(shown))
        return FALSE;
    ++m_nDone;
    if (!RixExists(dst)) {
        if (shown)
            m_progress.SetPos(m_nDone);
        return TRUE;
    }
    if (!m_backups.IsInInstallation(dst)) {
        m_backups.Person().Show(StrFormat("ﾌｧｲﾙ[%s]はｲﾝｽﾄｰﾙ先の外にあるため削除できません", dst.c_str()), kCaption, MB_OK);
        return FALSE;
    }
    // As for a replaced file: only one that no program holds, and its backup before it goes.
    CFileHandle installed = OpenToRead(dst, DELETE);
    if (!installed || !Announce(m_record, dst)) {
        Fail(StrFormat("ﾌｧｲﾙ[%s]を削除できませんでした", dst.c_str()));
        return FALSE;
    }
    if (m_backups.Mode() == 0 && !Save(-1, dst, dst + StrFormat(".BAK%d", m_backups.LogCount()), std::move(installed)))
        return FALSE;
    installed.reset();
    if (shown)
        m_progress.SetMessage(StrFormat("%sを削除中", dst.c_str()));
    if (!m_installs.Remove(dst, m_nWrittenMark)) {
        FailInstall();
        return FALSE;
    }
    if (shown)
        m_progress.SetPos(m_nDone);
    return TRUE;
}

BOOL CReplaceRun::Entry(int index, bool last) {
    const bool shown = m_progress.IsDue() || last;
    if (Cancelled(shown))
        return FALSE;
    ++m_nDone;
    std::string src, dst, bak;
    m_backups.GetBackupNames(m_bRestore, index, src, dst, bak);

    // Simple modes keep no backups; a file new to the installation needs none.
    const bool created = !RixExists(dst);
    // Read for the comparison, then copied or named again: an update's file as the extraction left it, which
    // no other program could change since.
    CFileHandle source = m_bRestore ? CFileHandle() : m_backups.TakeExtracted(index);
    CFileHandle installed;  // read for the comparison, then named again as its backup
    if (m_backups.Mode() == 0 && !created) {
        // Opened to be deleted and shared with all, the file opens only while no other
        // program holds it. One held could not be replaced, nor its backup, a second name
        // of it where the volume allows, be removed again.
        installed = OpenToRead(dst, DELETE);
        const bool held = !installed;
        if (held)
            installed = OpenToRead(dst, 0);
        if (!source)
            source = OpenToRead(src, 0);
        if (Compare(source.get(), installed.get(), src, dst) == kSame) {
            if (shown)
                m_progress.SetPos(m_nDone);
            return TRUE;
        }
        if (held) {
            FailToInstall(src, dst);
            return FALSE;
        }
    }
    // Nothing outside the installation is changed: no record could name it for the next start.
    if (!m_backups.IsInInstallation(dst)) {
        m_backups.Person().Show(StrFormat("ﾌｧｲﾙ[%s]はｲﾝｽﾄｰﾙ先の外にあるため%sできません", dst.c_str(), m_verb), kCaption, MB_OK);
        return FALSE;
    }
    if (created && !MakeFolders(src, dst))
        return FALSE;
    // The record names the file before anything of it changes, so that the next start can
    // clear or undo whatever a kill leaves.
    if (!Announce(m_record, (created ? "*" : "") + dst)) {
        FailToInstall(src, dst);
        return FALSE;
    }
    // The backup takes the installed file's handle and closes it, as no file held open
    // could be replaced.
    if (m_backups.Mode() == 0 && !created && !Save(index, dst, bak, std::move(installed)))
        return FALSE;
    if (shown)
        m_progress.SetMessage(StrFormat("%sを%s中", dst.c_str(), m_verb));
    if (!Install(src, dst, created, std::move(source)))
        return FALSE;
    if (shown)
        m_progress.SetPos(m_nDone);
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
        m_saved.push_back({index, dst, bak, false});
    // A backup that cannot be listed is no backup.
    if (m_log.IsOpen() && !Announce(m_log, bak)) {
        Fail(failure);
        return FALSE;
    }
    return TRUE;
}

BOOL CReplaceRun::MakeFolders(const std::string& src, const std::string& dst) {
    std::string folder = dst;
    RixSetPathParts(folder, nullptr, nullptr, "", "");
    if (RixExists(folder))
        return TRUE;
    // The folders about to be made, outermost first and each named before it is made, so that an undo,
    // which goes newest first, takes them away again once the files in them are gone.
    std::vector<std::string> missing;
    for (std::string at = RixTrailBackslash(folder, FALSE); !at.empty() && !RixExists(at);) {
        missing.insert(missing.begin(), at);
        std::string parent = at;
        at = RixTrailBackslash(RixSetPathParts(parent, nullptr, nullptr, "", ""), FALSE);
        if (at.size() >= missing.front().size())
            break;
    }
    for (const std::string& made : missing) {
        if (!Announce(m_record, "+" + made) || (m_added.IsOpen() && !m_added.Write(AddedLine({true, 0, 0, made})))) {
            FailToInstall(src, dst);
            return FALSE;
        }
    }
    if (!RixMakeFolder(folder)) {
        Fail(StrFormat("ﾌｫﾙﾀﾞ[%s]を作成できませんでした", folder.c_str()));
        return FALSE;
    }
    return TRUE;
}

BOOL CReplaceRun::Install(const std::string& src, const std::string& dst, bool created, CFileHandle source) {
    if (created && m_added.IsOpen()) {
        // The new file takes the size and time of the file it is copied from.
        CAddedEntry entry;
        entry.path = dst;
        if (!ReadSizeAndTime(src, entry) || !m_added.Write(AddedLine(entry))) {
            FailToInstall(src, dst);
            return FALSE;
        }
    }
    if (!m_installs.Add(src, dst, m_bRestore ? CSource::kBackup : CSource::kUpdate, std::move(source),
                        m_nWrittenMark)) {
        FailInstall();
        return FALSE;
    }
    return TRUE;
}

BOOL CReplaceRun::RemoveAdded() {
    // Announced all at once, then moved: one flush for every line.
    std::vector<const CAddedEntry*> present;
    for (auto entry = m_backups.Added().rbegin(); entry != m_backups.Added().rend(); ++entry) {
        if (!entry->bFolder && RixExists(entry->path)) {
            present.push_back(&*entry);
            if (!Announce(m_record, entry->path)) {
                FailToInstall(entry->path, entry->path + ".ORG");
                return FALSE;
            }
        }
    }
    if (!present.empty() && !MakeDurable(m_nWrittenMark)) {
        FailToInstall(present.front()->path, present.front()->path + ".ORG");
        return FALSE;
    }
    const int count = static_cast<int>(m_backups.Files().size());
    for (const CAddedEntry* entry : present) {
        CAddedEntry aside = *entry;
        aside.path += ".ORG";
        if (!RixMoveFile(entry->path, aside.path)) {
            Fail(StrFormat("ﾌｧｲﾙ[%s]を[%s]に退避できませんでした", entry->path.c_str(), aside.path.c_str()));
            return FALSE;
        }
        m_saved.push_back({count, entry->path, aside.path, true});
        m_movedAside.push_back(aside);
    }
    return TRUE;
}

void CReplaceRun::ForgetUnchanged() {
    for (const CAddedEntry& aside : m_movedAside) {
        if (IsAsAdded(aside))
            RixDeleteFile(aside.path);
    }
    for (auto entry = m_backups.Added().rbegin(); entry != m_backups.Added().rend(); ++entry) {
        if (entry->bFolder)
            ::RemoveDirectoryA(entry->path.c_str());  // stays when something else is in it
    }
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
        if (saved->bMoved) {
            if (!RixMoveFile(saved->bak, saved->dst)) {
                Fail(StrFormat("退避ﾌｧｲﾙ[%s]から元ﾌｧｲﾙ[%s]に復元できませんでした", saved->bak.c_str(),
                               saved->dst.c_str()));
                return FALSE;
            }
        } else if (!m_backups.PutBack(saved->bak, saved->dst, shown ? &m_progress : nullptr)) {
            return FALSE;
        }
        if (shown)
            m_progress.SetPos(saved->index);
    }
    return TRUE;
}
}  // namespace

BOOL CBackups::Replace(BOOL bRestore) {
    const int g = m_generations.m_nLogCount;
    std::string logName, addedName;
    GetRollbackLogName(g, logName);
    GetAddedListName(g, addedName);
    // The record comes first, so that a kill after the log was opened is seen as an unfinished update.
    // Only an update that keeps backups has a log, and the list of what it adds.
    const bool bGeneration = !bRestore && m_nMode == 0;
    CRecordWriter record, log, added;
    BOOL begun = BeginWork(g, bRestore ? "restore" : bGeneration ? "update" : "install", &record);
    if (begun && bGeneration)
        begun = log.Create(logName) && added.Create(addedName);
    if (!begun) {
        const DWORD error = ::GetLastError();
        m_person.Show(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]をｵｰﾌﾟﾝできませんでした", logName.c_str()), kCaption, MB_OK,
                      CQuestion::kNone, CauseOfError(error));
        log.Close();
        added.Close();
        if (bGeneration) {
            RixDeleteFile(logName);
            RixDeleteFile(addedName);
        }
        EndWork(g);
        return FALSE;
    }

    const int count = static_cast<int>(m_work.m_files.size());
    const std::vector<std::string> removals = bRestore ? std::vector<std::string>() : m_release.m_removed;
    std::unique_ptr<CProgress> progress = m_person.StartProgress();
    progress->SetRange(0, count + static_cast<int>(removals.size()));
    progress->SetCaption(StrFormat("%s中", bRestore ? "復元" : "更新"));

    bool failed = false;
    {
        CReplaceRun run(*this, *progress, bRestore, record, log, added);
        for (size_t i = 0; i < removals.size() && !failed; ++i)
            failed = !run.Removal(removals[i], count == 0 && i + 1 == removals.size());
        for (int i = 0; i < count && !failed; ++i)
            failed = !run.Entry(i, i + 1 == count);
        // The undo and the next start read the record: nothing may still be on its way.
        failed = !run.FinishInstalls(failed) || failed;
        if (!failed && bRestore)
            failed = !run.RemoveAdded();
        // What the generation lists reaches the disk before its record goes.
        if (!failed && bGeneration && (!log.Flush() || !added.Flush())) {
            const DWORD error = ::GetLastError();
            ShowFileFailure(m_person, StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]をｵｰﾌﾟﾝできませんでした", logName.c_str()), kCaption,
                            error);
            failed = true;
        }
        record.Close();
        log.Close();
        added.Close();
        if (failed) {
            // An update whose undo fails keeps its record and log: the next start tries again.
            if (bRestore ? run.UndoRestore() : UndoUpdate(g, *progress))
                EndWork(g);
            return FALSE;
        }
        if (bRestore)
            run.ForgetUnchanged();
    }
    // An update that saved nothing leaves no generation. A restore's record stays until the deletion of its
    // generation takes its place: a kill in between is finished at the next start.
    if (bGeneration && (log.IsEmpty() || added.IsEmpty()))
        RixDeleteFile(addedName);
    if (bGeneration && log.IsEmpty())
        RixDeleteFile(logName);
    if (!bRestore)
        EndWork(g);
    return TRUE;
}

#pragma once
// What changes the installation: replacement with backups, restore, deletion of generations, and the
// recovery of what an interrupted run left; with the rollback logs, records and lists behind them.
#include <string>
#include <vector>

#include "AddedList.h"
#include "Discovery.h"
#include "Extraction.h"
#include "InstallationLock.h"
#include "Person.h"

class CRecordWriter;

struct CGenerations {
    // Number of generations present = number of possible restores; also the generation that Replace,
    // ReadRollbackLog and DeleteBackups work on.
    int m_nLogCount = 0;
    // What the generation being restored added: taken away again by the restore.
    std::vector<CAddedEntry> m_added;
    CInstallationLock m_lock;
};

class CBackups {
public:
    // nMode: the product mode; helpFilePath names the rollback logs (its extension replaced); programName is
    // the program's own, for messages.
    CBackups(CSettings& settings, CInstallation& installation, CRelease& release, CWorkFiles& work,
             CGenerations& generations, CPerson& person, int nMode, const std::string& helpFilePath,
             const std::string& programName)
        : m_settings(settings), m_installation(installation), m_release(release), m_work(work),
          m_generations(generations), m_person(person), m_nMode(nMode), m_strHelpFilePath(helpFilePath),
          m_strProgramName(programName) {}

    int Mode() const { return m_nMode; }
    CPerson& Person() { return m_person; }
    const std::vector<CAddedEntry>& Added() const { return m_generations.m_added; }
    const std::vector<std::string>& Files() const { return m_work.m_files; }
    int LogCount() const { return m_generations.m_nLogCount; }
    // Entry index's file as the extraction left it (see CExtraction::TakeExtracted).
    CFileHandle TakeExtracted(size_t index) { return Extraction().TakeExtracted(index); }

    // Whether path lies in the CAD folder or the program's folder: nothing else is ever changed by what a
    // record or log names.
    BOOL IsInInstallation(const std::string& path) const;
    // Only one copy at a time changes an installation; FALSE (after its message) while another does.
    BOOL LockInstallation();
    // Whether this user may write the installation (a refusal only: other failures are for the step that
    // meets them).
    BOOL CanWriteInstallation();
    // Whether any generation's log or work record is there.
    BOOL HasBackups();
    void GetRollbackLogName(int n, std::string& out);
    void GetAddedListName(int n, std::string& out);
    // The files and folders update g added, into m_added (none when it kept no list); FALSE after its message.
    BOOL ReadAddedList(int g);
    BOOL CountRollbackLogs();
    BOOL ShowRestoreCount();
    void GetBackupNames(BOOL bRestore, int index, std::string& src, std::string& dst, std::string& bak,
                        int generation = -1);
    BOOL Replace(BOOL bRestore);
    // bCutShort: the log of an update cut short, whose lines after its last flush never reached the disk
    // (nor did the changes they announced) and are no damage.
    BOOL ReadRollbackLog(BOOL bStopOnMissing, int generation = -1, BOOL bCutShort = FALSE);
    BOOL Restore();
    // FALSE (after its message) when a backup could not be deleted: the generation's log and record then stay
    // for the next start to finish.
    BOOL DeleteBackups(int g);
    BOOL DeleteAllBackups(BOOL bStopOnError);
    // Reads generation g's log, if any, and deletes its backups and log; FALSE when something stays.
    BOOL DeleteGeneration(int g);
    // Generations beyond a gap, which no restore reaches and which an update would join to
    // the newest: FALSE when the person keeps them, and the update must not go on.
    BOOL ClearStrayGenerations();

    void GetWorkRecordName(int n, std::string& out);
    // Makes generation g's record name kind, whatever it named before; keepOpen, if given, then appends to it.
    BOOL BeginWork(int g, const char* kind, CRecordWriter* keepOpen = nullptr);
    void EndWork(int g);
    // Reads generation g's record: its kind and the lines after it; FALSE (after its message) when it is
    // damaged or names anything outside the installation.
    BOOL ReadWorkRecord(int g, std::string& kind, std::vector<std::string>& lines);
    // Numbers of the rollback logs (or work records) present, newest first.
    std::vector<int> FindGenerations(BOOL bRecords);
    // Puts back every backup that update g's record and log name, removes the files it
    // added, then its backups, log and record; FALSE (after its message) when one could not be.
    BOOL UndoUpdate(int g, CProgress& progress);
    // Copies a backup or safety copy back over dst unless they are equal, naming it on
    // progress if given; FALSE after its message when it could not.
    BOOL PutBack(const std::string& bak, const std::string& dst, CProgress* progress);
    // Undoes or finishes what a killed run left; FALSE (after its message) when the
    // installation could not be brought back and nothing else may run.
    BOOL RecoverInterruptedWork();

private:
    // The CAD folder, and the program's folder unless it lies inside: all that a record or log may name.
    std::vector<std::string> InstallationFolders() const;
    CExtraction Extraction() { return CExtraction(m_settings, m_installation, m_release, m_work, m_person); }

    CSettings& m_settings;
    CInstallation& m_installation;
    CRelease& m_release;
    CWorkFiles& m_work;
    CGenerations& m_generations;
    CPerson& m_person;
    int m_nMode;
    std::string m_strHelpFilePath;
    std::string m_strProgramName;
};

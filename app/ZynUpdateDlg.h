#pragma once
// The main dialog. It holds the program's state (the settings read, the installation found, the release
// checked, the files of the current operation and the generations) as the plain objects that the update's
// operations take, and runs them, each handed to the part of the engine that owns it, with a person
// behind them: by default the dialog's message boxes and progress dialog.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Backups.h"
#include "Dialog.h"
#include "DialogPerson.h"
#include "Discovery.h"
#include "Extraction.h"
#include "Handle.h"
#include "Server.h"

class CZynUpdateApp;
class CEventLog;

class CZynUpdateDlg : public CDialog,
                      public CSettings,
                      public CInstallation,
                      public CRelease,
                      public CWorkFiles,
                      public CGenerations {
public:
    CZynUpdateDlg(UINT nIDTemplate, CWnd* pParent);
    ~CZynUpdateDlg() override;

    // --- app: dialog handlers, update sequence, data-manager start
    void ResetControls();
    void OnSelect();
    void OnExecute();
    void OnDeleteBackup();
    void OnExit();
    BOOL ExecUpdate();
    // What came of trying the installed revision's deltas before the whole archive.
    enum DeltaOutcome { kDeltasMade, kDeltasStopped, kDeltasUnusable };
    // Downloads the delta archive (or takes the verified one an earlier run left) and makes the new files in
    // the work folder; kDeltasUnusable with why, unshown; kDeltasStopped after its message.
    DeltaOutcome UpdateFromDeltas(std::string& why);
    // Checks that no program holds a file about to change and installs the work files as a new generation.
    BOOL InstallWorkFiles();
    // Starts the data manager without waiting; FALSE (after its message) when it did not start.
    BOOL StartDataManager();
    // Runs this program again with administrator rights for operation (kElevated...), with the arguments this
    // run was given, the marker and the installation found, and waits for it; its exit code, or -1 after
    // NeedRights(verb) when it did not start (refused, or failed). The installation's lock goes to that run;
    // the generations are counted again after it.
    int RunElevated(const char* operation, const char* verb);
    // Says that this user may not write the installation, so that verb needs administrator rights.
    void NeedRights(const char* verb);
    // The settings, then what a killed run left (with bRecover, before the Ver files are looked at), the
    // installed version, the generations and the client identity; FALSE after its message.
    BOOL ReadSetting(BOOL bQuiet, BOOL bRecover = FALSE);
    BOOL DispInfo(BOOL bRestore);
    void ShowStatus(BOOL bQuiet);

    // --- the person the operations ask: the dialog's own unless a run sets another (with no windows)
    CPerson& Person() { return *m_pPerson; }
    void SetPerson(CPerson* pPerson) { m_pPerson = pPerson ? pPerson : &m_dialogPerson; }
    // Where the dialog's person also writes what it shows (-LOG); null: nowhere.
    void SetLog(CEventLog* pLog) { m_dialogPerson.SetLog(pLog); }

    // --- the parts of the engine, on this run's state
    CServer Server() { return CServer(*this, Person()); }
    CDiscovery Discovery();
    CExtraction Extraction() { return CExtraction(*this, *this, *this, *this, Person()); }
    CBackups Backups();

    // --- the operations by their names, as the rest of the program and its tests call them
    void FindInstallation() { Discovery().FindInstallation(); }
    int GetZynInfo(BOOL bQuiet);
    int CheckUpdate(BOOL bQuiet);
    int FindNewerVersion() { return Discovery().FindNewerVersion(); }
    BOOL Download() { return Server().Download(*this); }
    int Extract() { return Extraction().Extract(); }
    static int WINAPI OnUnzipPrint(LPSTR text, unsigned long length) { return CExtraction::OnUnzipPrint(text, length); }
    int CheckFilesInUse(std::vector<std::string> files) { return Extraction().CheckFilesInUse(std::move(files)); }
    std::string InstalledPath(const std::string& file) const {
        return ::InstalledPath(file, m_strWorkDir, m_strCadDir);
    }
    BOOL LockInstallation() { return Backups().LockInstallation(); }
    BOOL CanWriteInstallation() { return Backups().CanWriteInstallation(); }
    BOOL HasBackups() { return Backups().HasBackups(); }
    void GetRollbackLogName(int n, std::string& out) { Backups().GetRollbackLogName(n, out); }
    BOOL CountRollbackLogs() { return Backups().CountRollbackLogs(); }
    BOOL ShowRestoreCount() { return Backups().ShowRestoreCount(); }
    BOOL Replace(BOOL bRestore) { return Backups().Replace(bRestore); }
    BOOL ReadRollbackLog(BOOL bStopOnMissing, int generation = -1, BOOL bCutShort = FALSE) {
        return Backups().ReadRollbackLog(bStopOnMissing, generation, bCutShort);
    }
    BOOL Restore() { return Backups().Restore(); }
    BOOL DeleteAllBackups(BOOL bStopOnError) { return Backups().DeleteAllBackups(bStopOnError); }
    BOOL ClearStrayGenerations() { return Backups().ClearStrayGenerations(); }
    BOOL RecoverInterruptedWork() { return Backups().RecoverInterruptedWork(); }

    CZynUpdateApp* m_pApp;
    CButton m_btnDelBak;
    CStatic m_stcStatus;
    CButton m_btnExit;
    CButton m_btnExec;
    CEdit m_edtInfo;
    HICON m_hIcon;

private:
    CDialogPerson m_dialogPerson{*this};
    CPerson* m_pPerson = &m_dialogPerson;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    BOOL OnCommand(UINT id, UINT code) override;
    BOOL OnPaint() override;
    HCURSOR OnQueryDragIcon() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT ctlType) override;

public:
    int Mode() const;  // product mode of the run

private:
    // The operation that the radio buttons (or simple mode) choose.
    enum Operation { kNone, kUpdate, kRestore };
    Operation ChosenOperation() const;
};

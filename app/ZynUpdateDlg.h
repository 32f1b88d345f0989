#pragma once
// The main dialog. It also holds the program's state, and every operation of the
// updater is a member: each is defined in the folder of the subsystem that owns it.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "AddedList.h"
#include "Dialog.h"
#include "Handle.h"
#include "InstallationLock.h"
#include "UrlText.h"

class CZynUpdateApp;
class CProgressDlg;
class CRecordWriter;
class CServerWait;
struct CReleaseManifest;

const DWORD kDefaultTimeout = 60;

class CZynUpdateDlg : public CDialog {
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
    // Starts the data manager without waiting; FALSE (after its message) when it did not start.
    BOOL StartDataManager();
    // Runs this program again with administrator rights for operation (kElevated...), with the arguments this
    // run was given, the marker and the installation found, and waits for it; its exit code, or -1 after
    // NeedRights(verb) when it did not start (refused, or failed). The installation's lock goes to that run.
    int RunElevated(const char* operation, const char* verb);
    // Says that this user may not write the installation, so that verb needs administrator rights.
    void NeedRights(const char* verb);

    // --- discovery: settings, installed version, update check
    // With bRecover, what a killed run left is undone or finished before the Ver files are looked at.
    BOOL ReadSetting(BOOL bQuiet, BOOL bRecover = FALSE);
    void MakeAgentString();
    // Sets m_strCadFolder and m_strCadDir from -HOME, ZYN_HOME or the program's place.
    void FindInstallation();
    int GetZynInfo(BOOL bQuiet);
    int CheckUpdate(BOOL bQuiet);
    int FindNewerVersion();
    // With public keys configured: TRUE only when the server's signed manifest vouches for
    // this Ver text and the revision it carries (after a message naming why not, unless bQuiet).
    BOOL CheckSignedRelease(const std::string& verText, BOOL bQuiet);
    // Why the keys do not vouch for the release of version (code) that verText at verUrl announces, or
    // null when they do: manifest then holds its promises. why says why no manifest could be read.
    const char* DistrustRelease(const std::string& verUrl, const std::string& version, int code,
                                const std::string& verText, CReleaseManifest& manifest, UrlFailure& why);
    // TRUE without public keys, or when the file has the length and SHA-256 that the last passed check signed.
    BOOL UpdateFileVerified(const std::string& path) const;

    // --- transfer: server files, download, information pane
    // text: at most limit bytes of the body, exactly as sent. pWhy, if given, says why nothing was read.
    BOOL ReadUrlFile(const std::string& url, std::string& text, DWORD limit, BOOL bQuiet, UrlFailure* pWhy = nullptr);
    // The run's one root internet handle, opened on first use (null when it cannot be): proxy
    // credentials given once serve every later request.
    std::shared_ptr<CInternetHandle> Internet();
    // How a request waits: with the dialog answering (終了 leaves), or without windows.
    std::unique_ptr<CServerWait> MakeServerWait();
    BOOL Download();
    BOOL DispInfo(BOOL bRestore);

    // --- extract: extraction and file-in-use check
    // 0 also sets m_bArchiveAtFault when the archive itself is what failed.
    int Extract();
    static int WINAPI OnUnzipPrint(LPSTR text, unsigned long length);
    int CheckFilesInUse(std::vector<std::string> files);
    // The work folder of an update: a folder of the program's own at the root of the installation's volume
    // where one can be made, so that an extracted path is barely longer than the installed one; else the one
    // in the temporary folder.
    void ChooseWorkFolder();
    // Removes the work folder with all it holds, never following a link out of it, and makes it anew for
    // this user alone; FALSE after its message when something in it stays.
    BOOL ClearWorkFolder();
    // Lets go of the extracted files and removes the work folder.
    void DropWorkFolder();
    // Entry index's file as the extraction left it, open for reading and closed to writers since it was
    // written; none when the files did not come from Extract.
    CFileHandle TakeExtracted(size_t index);

    // --- backup: generations, replacement, restore, deletion
    // The installed file that a file of the work folder replaces.
    std::string InstalledPath(const std::string& file) const;
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
    // the newest: FALSE when the user keeps them, and the update must not go on.
    BOOL ClearStrayGenerations();

    // --- backup: the record of unfinished work, and what the next start does with it
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
    BOOL UndoUpdate(int g, CProgressDlg& progress);
    // Copies a backup or safety copy back over dst unless they are equal, naming it on
    // progress if given; FALSE after its message when it could not.
    BOOL PutBack(const std::string& bak, const std::string& dst, CProgressDlg* progress);
    // Undoes or finishes what a killed run left; FALSE (after its message) when the
    // installation could not be brought back and nothing else may run.
    BOOL RecoverInterruptedWork();

    CZynUpdateApp* m_pApp;
    int m_nLogCount = 0;
    int m_nVersion = 0;
    int m_nRevision = 0;
    // Seconds a server connection may go without progress before its step fails.
    DWORD m_nTimeout = kDefaultTimeout;
    std::string m_strVerFile;
    std::string m_strIniPath;
    std::string m_strFixDirUrl;
    std::string m_strFixFileName;
    std::string m_strUpdateUrl;
    std::string m_strVerUrl;
    std::string m_strUpdateFile;
    std::string m_strTempPath;
    std::string m_strWorkDir;
    std::string m_strCadDir;
    // The CAD folder itself, absolute, with its trailing separator.
    std::string m_strCadFolder;
    std::string m_strAppName;
    std::string m_strAgent;
    // Base64 public keys, comma-separated; empty: releases are taken unsigned.
    std::string m_strPublicKeys;
    // What the signed manifest promised of the update file; m_strUpdateSha256 empty: nothing.
    ULONGLONG m_nUpdateLength = 0;
    std::string m_strUpdateSha256;
    // The server's Ver text that the last check read and accepted, byte for byte: the pane shows it.
    std::string m_strVerText;
    BOOL m_bVerText = FALSE;
    // Whether the last check failed for a reason it has already told (the proxy, a certificate), or
    // because the user left: nothing more is to be said about it.
    BOOL m_bCheckToldWhy = FALSE;
    // Whether a proxy's credentials may be asked for: not in -CHECK and -VER, which run unattended.
    BOOL m_bAskCredentials = TRUE;
    std::shared_ptr<CInternetHandle> m_pInternet;
    std::vector<std::string> m_files;
    // After Extract, what each entry of m_files was extracted as, held shut to writers until installed.
    std::vector<CFileHandle> m_extracted;
    // Installed files that the signed release takes away: an update backs each up, then deletes it.
    std::vector<std::string> m_removed;
    // What the generation being restored added: taken away again by the restore.
    std::vector<CAddedEntry> m_added;
    BOOL m_bArchiveAtFault = FALSE;
    CInstallationLock m_lock;
    CButton m_btnDelBak;
    CStatic m_stcStatus;
    CButton m_btnExit;
    CButton m_btnExec;
    CEdit m_edtInfo;
    HICON m_hIcon;

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

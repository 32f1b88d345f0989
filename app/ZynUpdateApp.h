#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Person.h"
#include "WinApp.h"

class CEventLog;
class CZynUpdateDlg;

// What the command line asked for, beyond the run state kept by the application.
struct CCommandLine {
    BOOL bDeleteBackups = FALSE;  // "-DELBAK"
    BOOL bCheck = FALSE;          // "-CHECK"
    BOOL bVersion = FALSE;        // "-VER"
    UINT nTemplate = 0;           // dialog template: full, or simple once a mode switch is seen
    int nHelpContext = 0;         // 0 = none
};

// Exit codes beyond those of -CHECK and -VER: -DELBAK's, an elevated run's, and those of an update that
// nobody attends (-SILENT).
const int kExitUpdated = 0;
const int kExitFailed = 1;           // any other failure; -DELBAK could not delete every backup
const int kExitUpToDate = 10;
const int kExitServer = 20;          // the server could not be reached, or failed
const int kExitSignature = 21;       // the release was refused by its signature
const int kExitFilesInUse = 30;
const int kExitNoRights = 31;        // this user may not write the installation
const int kExitDiskFull = 32;
const int kExitDamagedArchive = 40;
const int kExitAnotherCopy = 50;     // another copy is changing the same installation
const int kExitRecovery = 60;        // what an interrupted run left could not be put right

// The marker of a run that this program started elevated for the operation that follows it: such a run does
// that operation for its caller and never asks for elevation again.
const char kElevatedSwitch[] = "-ELEVATED";
const char kElevatedUpdate[] = "UPDATE";
const char kElevatedRestore[] = "RESTORE";
const char kElevatedDelete[] = "DELBAK";

class CZynUpdateApp : public CWinApp {
public:
    CZynUpdateApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Sets the run state from the arguments after the program name.
    void ParseCommandLine(const std::vector<std::string>& args, CCommandLine& command);

    int m_nExitCode = 0;
    std::string m_strHome;
    int m_nMode = 0;
    BOOL m_bAuto = FALSE;
    // The operation of an elevated run ("-ELEVATED"), empty in any other.
    std::string m_strElevated;
    // "-SILENT": the unattended update, or the script's question, with no window of any kind.
    BOOL m_bSilent = FALSE;
    // "-LOG <file>": where the run's events are appended (a silent run's default: %TEMP%\ZynUpdate.log).
    std::string m_strLog;

private:
    void OpenLog(CEventLog& log) const;
    // The run that the command line chose, with the dialog as its state and person.
    void Run(CZynUpdateDlg& dialog, const CCommandLine& command);
    // A silent update's exit code, from how it ended and the cause of its last failure.
    int SilentExitCode(CCause cause) const;
    // The run that an elevated copy makes for its caller; its exit code.
    int RunForCaller(CZynUpdateDlg& dialog);
    // -AUTO, or an update for an elevated copy's caller.
    void RunUnattendedUpdate(CZynUpdateDlg& dialog);

    BOOL m_bUpdated = FALSE;   // the unattended update went through
    BOOL m_bUpToDate = FALSE;  // the server holds nothing newer
};

// Splits text at separator into fields, with quoting as in comma-separated values.
int SplitFields(const std::string& text, std::vector<std::string>& fields, char separator, BOOL bTrim);

#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "WinApp.h"

class CZynUpdateDlg;

// What the command line asked for, beyond the run state kept by the application.
struct CCommandLine {
    BOOL bDeleteBackups = FALSE;  // "-DELBAK"
    BOOL bCheck = FALSE;          // "-CHECK"
    BOOL bVersion = FALSE;        // "-VER"
    UINT nTemplate = 0;           // dialog template: full, or simple once a mode switch is seen
    int nHelpContext = 0;         // 0 = none
};

// Exit codes beyond those of -CHECK and -VER.
const int kExitFailed = 1;         // -DELBAK could not delete every backup; an elevated run failed
const int kExitAnotherCopy = 50;   // another copy is changing the same installation

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

private:
    // The run that an elevated copy makes for its caller; its exit code.
    int RunForCaller(CZynUpdateDlg& dialog);
    // -AUTO, or an update for an elevated copy's caller.
    void RunUnattendedUpdate(CZynUpdateDlg& dialog);
};

// Splits text at separator into fields, with quoting as in comma-separated values.
int SplitFields(const std::string& text, std::vector<std::string>& fields, char separator, BOOL bTrim);

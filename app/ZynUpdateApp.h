#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "WinApp.h"

// What the command line asked for, beyond the run state kept by the application.
struct CCommandLine {
    BOOL bDeleteBackups = FALSE;  // "-DELBAK"
    BOOL bCheck = FALSE;          // "-CHECK"
    BOOL bVersion = FALSE;        // "-VER"
    UINT nTemplate = 0;           // dialog template: full, or simple once a mode switch is seen
    int nHelpContext = 0;         // 0 = none
};

// Exit codes beyond those of -CHECK and -VER.
const int kExitFailed = 1;         // -DELBAK could not delete every backup
const int kExitAnotherCopy = 50;   // another copy is changing the same installation

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
};

// Splits text at separator into fields, with quoting as in comma-separated values.
int SplitFields(const std::string& text, std::vector<std::string>& fields, char separator, BOOL bTrim);

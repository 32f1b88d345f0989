#include "ZynUpdateApp.h"

#include <cstdlib>
#include <memory>

#include "EventLog.h"
#include "Format.h"
#include "SilentPerson.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

CZynUpdateApp::CZynUpdateApp() = default;

void CZynUpdateApp::ParseCommandLine(const std::vector<std::string>& args, CCommandLine& command) {
    command.nTemplate = IDD_ZYNUPDATE_DIALOG;
    for (size_t i = 0; i < args.size(); ++i) {
        const char* arg = args[i].c_str();
        // A value is the next argument, which is still examined as a switch itself.
        const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
        if (_stricmp(arg, "-DELBAK") == 0) {
            command.bDeleteBackups = TRUE;
        } else if (_stricmp(arg, "-CHECK") == 0) {
            command.bCheck = TRUE;
        } else if (_stricmp(arg, "-HOME") == 0) {
            if (value)
                m_strHome = *value;
        } else if (_stricmp(arg, "-H") == 0 || _stricmp(arg, "-HELP") == 0) {
            if (!value)
                continue;
            std::vector<std::string> fields;
            SplitFields(*value, fields, ',', TRUE);
            if (!fields.empty())
                SetHelpFilePath(fields[0]);
            if (fields.size() >= 2) {
                int context = std::atoi(fields[1].c_str());
                if (context != 0)
                    command.nHelpContext = context;
            }
        } else if (_stricmp(arg, "-VER") == 0) {
            command.bVersion = TRUE;
        } else if (_stricmp(arg, "-DOVI") == 0) {
            m_nMode = 1;
            command.nTemplate = IDD_ZYNUPDATE_SIMPLE;
        } else if (_stricmp(arg, "-7QV") == 0) {
            m_nMode = 2;
            command.nTemplate = IDD_ZYNUPDATE_SIMPLE;
        } else if (_stricmp(arg, "-REVIT") == 0) {
            m_nMode = 3;
            command.nTemplate = IDD_ZYNUPDATE_SIMPLE;
        } else if (_stricmp(arg, "-AUTO") == 0) {
            m_bAuto = TRUE;
        } else if (_stricmp(arg, "-SILENT") == 0) {
            m_bSilent = TRUE;
            m_bAuto = TRUE;
        } else if (_stricmp(arg, "-LOG") == 0) {
            if (value)
                m_strLog = *value;
        } else if (_stricmp(arg, kElevatedSwitch) == 0) {
            m_strElevated = value ? *value : "";
        }
    }
}

BOOL CZynUpdateApp::InitInstance() {
    CWinApp::InitInstance();
    EnableHtmlHelp();

    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i)
        args.push_back(__argv[i]);
    CCommandLine command;
    ParseCommandLine(args, command);

    auto dialog = std::make_unique<CZynUpdateDlg>(command.nTemplate, nullptr);
    if (command.nHelpContext != 0)
        dialog->m_nIDHelp = static_cast<UINT>(command.nHelpContext - 0x20000);
    // A run that nobody attends has no window of any kind: its person is its log, which it always keeps.
    CEventLog log;
    OpenLog(log);
    CSilentPerson silent(log);
    if (m_bSilent)
        dialog->SetPerson(&silent);
    else if (log.IsOpen())
        dialog->SetLog(&log);
    log.Write("開始: " + std::string(::GetCommandLineA()));
    Run(*dialog, command);
    if (m_bSilent && m_bAuto && !command.bDeleteBackups && !command.bCheck && !command.bVersion)
        m_nExitCode = SilentExitCode(silent.LastCause());
    log.Write(StrFormat("終了ｺｰﾄﾞ: %d", m_nExitCode));
    return FALSE;
}

void CZynUpdateApp::OpenLog(CEventLog& log) const {
    if (!m_strLog.empty()) {
        log.Open(m_strLog);
    } else if (m_bSilent) {
        wchar_t folder[MAX_PATH + 1] = L"";
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
        if (length > 0 && length <= MAX_PATH)
            log.Open(std::wstring(folder) + L"ZynUpdate.log");
    }
}

int CZynUpdateApp::SilentExitCode(CCause cause) const {
    if (m_bUpdated)
        return kExitUpdated;
    if (m_bUpToDate)
        return kExitUpToDate;
    switch (cause) {
    case CCause::kServer:
        return kExitServer;
    case CCause::kSignature:
        return kExitSignature;
    case CCause::kFilesInUse:
        return kExitFilesInUse;
    case CCause::kNoRights:
        return kExitNoRights;
    case CCause::kDiskFull:
        return kExitDiskFull;
    case CCause::kArchive:
        return kExitDamagedArchive;
    case CCause::kAnotherCopy:
        return kExitAnotherCopy;
    case CCause::kRecovery:
        return kExitRecovery;
    default:
        return kExitFailed;
    }
}

void CZynUpdateApp::Run(CZynUpdateDlg& dialog, const CCommandLine& command) {
    // The runs that change files hold the installation's lock from start to end.
    const bool bChanging = command.bDeleteBackups || (m_bAuto && !command.bCheck && !command.bVersion);
    if (bChanging || !m_strElevated.empty()) {
        dialog.FindInstallation();
        if (!dialog.LockInstallation()) {
            m_nExitCode = kExitAnotherCopy;
            return;
        }
    }
    if (!m_strElevated.empty()) {
        m_nExitCode = RunForCaller(dialog);
    } else if (command.bDeleteBackups) {
        // Backups that this user may not delete go through a copy with administrator rights, whose result
        // is this run's; with nothing to delete nothing needs them.
        if (dialog.HasBackups() && !dialog.CanWriteInstallation() && dialog.Person().IsAttended()) {
            const int code = dialog.RunElevated(kElevatedDelete, "退避ﾌｧｲﾙの削除");
            m_nExitCode = code < 0 ? kExitFailed : code;
        } else {
            m_nExitCode = dialog.ReadSetting(TRUE, TRUE) && dialog.DeleteAllBackups(FALSE) ? 0 : kExitFailed;
        }
    } else if (command.bCheck || command.bVersion) {
        dialog.m_bAskCredentials = FALSE;  // a script's question: nobody is there to answer
        if (dialog.ReadSetting(TRUE))
            m_nExitCode = command.bCheck ? dialog.CheckUpdate(TRUE) : dialog.FindNewerVersion();
    } else if (m_bAuto) {
        RunUnattendedUpdate(dialog);
    } else {
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
}

void CZynUpdateApp::RunUnattendedUpdate(CZynUpdateDlg& dialog) {
    const bool bForCaller = !m_strElevated.empty();
    // A start that failed stops here: an installation it could not read or recover, or a count of
    // generations it never made, is nothing to update.
    BOOL updated = FALSE;
    if (dialog.ReadSetting(TRUE, TRUE)) {
        const int revision = dialog.CheckUpdate(TRUE);
        // A server that could not be asked, or a release its keys do not vouch for, is no answer that
        // nothing is newer: said as what it is, it aborts the update.
        if (revision == 0 && !dialog.m_bCheckToldWhy && dialog.Person().LastCause() == CCause::kServer) {
            dialog.Person().Show(UrlNotOpened(dialog.m_strVerUrl), kReadUrlCaption, MB_OK, CQuestion::kNone,
                                 CCause::kServer);
        } else if (revision == 0 && !dialog.m_bCheckToldWhy && !dialog.m_strDistrust.empty()) {
            dialog.Person().Show(DistrustMessage(dialog.m_strDistrust), "", MB_OK | MB_ICONWARNING, CQuestion::kNone,
                                 CCause::kSignature);
        } else if (revision == 0 && !dialog.m_bCheckToldWhy) {
            // Nothing newer: no question, no download, nothing to abort.
            dialog.Person().Show("現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません", "", MB_OK | MB_ICONINFORMATION);
            m_bUpToDate = TRUE;
            m_nExitCode = bForCaller ? kExitFailed : 0;
            return;
        }
        // A check that failed at the proxy or a certificate has said why: the update stops there.
        updated = revision != 0 && dialog.ExecUpdate();
    }
    // The caller reports the result and starts the data manager, with the user's own rights.
    if (bForCaller) {
        m_nExitCode = updated ? 0 : kExitFailed;
        return;
    }
    m_bUpdated = updated;
    dialog.Person().Show(updated ? "更新に成功しました" : "更新を中断しました", "", MB_OK | MB_ICONINFORMATION);
    if (updated)
        dialog.StartDataManager();
}

int CZynUpdateApp::RunForCaller(CZynUpdateDlg& dialog) {
    if (m_strElevated == kElevatedUpdate) {
        RunUnattendedUpdate(dialog);
        return m_nExitCode;
    }
    const bool bRestore = m_strElevated == kElevatedRestore;
    if (!bRestore && m_strElevated != kElevatedDelete)
        return kExitFailed;
    if (!dialog.ReadSetting(TRUE, TRUE))
        return kExitFailed;
    if (!dialog.CanWriteInstallation()) {
        dialog.NeedRights(bRestore ? "復元" : "退避ﾌｧｲﾙの削除");
        return kExitFailed;
    }
    return (bRestore ? dialog.Restore() : dialog.DeleteAllBackups(FALSE)) ? 0 : kExitFailed;
}

int CZynUpdateApp::ExitInstance() {
    CWinApp::ExitInstance();
    return m_nExitCode;
}

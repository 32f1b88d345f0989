// A user who may not write the installation checks and downloads with the rights they have; what changes the
// installation then runs in a copy of this program started with administrator rights.
#include <windows.h>

#include <shellapi.h>

#include "Format.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
// The arguments after the program's name, exactly as this run was given them.
std::string ArgumentsGiven() {
    const char* line = ::GetCommandLineA();
    for (bool quoted = false; *line && (quoted || (*line != ' ' && *line != '\t')); ++line) {
        if (*line == '"')
            quoted = !quoted;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

// Keeps the window painted, and nothing else, until the process ends.
void WaitWithWindow(HANDLE process, HWND window) {
    if (!window) {
        ::WaitForSingleObject(process, INFINITE);
        return;
    }
    const BOOL wasEnabled = !::EnableWindow(window, FALSE);
    while (::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    ::EnableWindow(window, wasEnabled);
}
}  // namespace

void CZynUpdateDlg::NeedRights(const char* verb) {
    Person().Show(StrFormat("ｲﾝｽﾄｰﾙ先[%s]に書き込む権限がありません\n%sには管理者権限が必要です", m_strCadFolder.c_str(), verb),
                  "", MB_OK | MB_ICONSTOP, CQuestion::kNone, CCause::kNoRights);
}

int CZynUpdateDlg::RunElevated(const char* operation, const char* verb) {
    std::string self;
    RixGetModulePath(self, TRUE);
    // The installation goes by name: an elevated process gets neither the caller's environment nor, on
    // every system, its current folder. Ending in "\." no trail byte of 0x5C can stand before the quote.
    std::string arguments = ArgumentsGiven();
    arguments += StrFormat("%s%s %s -HOME \"%s.\"", arguments.empty() ? "" : " ", kElevatedSwitch, operation,
                           RixTrailBackslash(m_strCadFolder, TRUE).c_str());
    char folder[MAX_PATH] = "";
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, folder);
    m_lock.ReleaseAll();
    SHELLEXECUTEINFOA run = {};
    run.cbSize = sizeof(run);
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.hwnd = GetSafeHwnd();
    run.lpVerb = "runas";
    run.lpFile = self.c_str();
    run.lpParameters = arguments.c_str();
    run.lpDirectory = length > 0 && length < MAX_PATH ? folder : nullptr;
    run.nShow = SW_SHOWNORMAL;
    // Refused by the user (ERROR_CANCELLED) or failed: nothing has changed.
    if (!::ShellExecuteExA(&run) || !run.hProcess) {
        NeedRights(verb);
        CountRollbackLogs();
        return -1;
    }
    CKernelHandle process(run.hProcess);
    WaitWithWindow(process.get(), GetSafeHwnd());
    CountRollbackLogs();
    DWORD code = kExitFailed;
    return ::GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : kExitFailed;
}

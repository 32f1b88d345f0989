#include "RixExec.h"

#include <string>

#include "Format.h"
#include "Handle.h"
#include "RixLog.h"
#include "RixPath.h"

namespace {
const DWORD kComSpecBytes = 1024;
const size_t kMaxCommandLine = 8191;  // the interpreter's own limit as well

const char kHtmlHelpControlKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
const WORD kHtmlHelpAOrdinal = 14;
const UINT kHhCloseAll = 18;
using HtmlHelpAProc = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

bool GetOsVersion(OSVERSIONINFOA& version) {
    version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return ::GetVersionExA(&version) != FALSE;
}

bool IsWindowsXp() {
    OSVERSIONINFOA version;
    return GetOsVersion(version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 1;
}

// Empty when "ComSpec" is unset or does not fit its buffer: there is no interpreter to name.
std::string ComSpec() {
    char value[kComSpecBytes];
    DWORD length = ::GetEnvironmentVariableA("ComSpec", value, kComSpecBytes);
    return length < kComSpecBytes ? std::string(value, length) : std::string();
}

// False for an interpreter command without an interpreter and for a line beyond the limit.
bool BuildCommandLine(const char* CmdLine, int buildMode, std::string& commandLine) {
    const std::string comSpec = ComSpec();
    bool throughInterpreter = true;
    if (IsWindowsXp() && RixIsBatchFile(CmdLine)) {
        // XP's interpreter loses a batch file's exit code unless it is handed on explicitly.
        RixPrintf(nullptr, -1, "RixCmdExecute XP環境にて.bat/cmdが指定された場合の特別処理を適用\n");
        commandLine = StrFormat("%s /v:on /k \"%s\" & exit !errorlevel!", comSpec.c_str(), CmdLine);
    } else if (buildMode == 0) {
        commandLine = StrFormat("%s /c %s", comSpec.c_str(), CmdLine);
    } else {
        commandLine = CmdLine;
        throughInterpreter = false;
    }
    return !(throughInterpreter && comSpec.empty()) && commandLine.size() <= kMaxCommandLine;
}

// What the log shows of a command that was never built: at most the limit, whole characters.
std::string UnbuiltCommandLine(const char* CmdLine) {
    const std::string text = CmdLine;
    size_t kept = 0;
    while (kept < text.size()) {
        size_t next = kept + RixCharBytes(static_cast<unsigned char>(text[kept]));
        if (next > kMaxCommandLine)
            break;
        kept = next;
    }
    return text.substr(0, kept);
}

void LogCommand(const std::string& commandLine, int mode, int wait_flg, int nRet, DWORD dwExitCode) {
    RixPrintf(nullptr, -1, "RixCmdExecute CmdLine=[%s] cmd_mode=%d wait_flg=%d nRet=%d dwExitCode=%d\n",
              commandLine.c_str(), mode, wait_flg, nRet, static_cast<int>(dwExitCode));
}

std::string HtmlHelpControlPath() {
    const std::string fallback = "hhctrl.ocx";
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kHtmlHelpControlKey, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return fallback;
    CRegKey key(opened);
    char value[MAX_PATH + 1] = "";
    DWORD type = 0;
    DWORD size = MAX_PATH;
    if (::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return fallback;
    value[size] = '\0';
    if (type == REG_SZ)
        return value[0] ? value : fallback;
    char expanded[MAX_PATH];
    DWORD length = ::ExpandEnvironmentStringsA(value, expanded, MAX_PATH);
    return length > 1 && length <= MAX_PATH ? expanded : fallback;
}

// Loaded at first use and kept for the life of the program; a failure is not retried.
HtmlHelpAProc LoadHtmlHelpA() {
    static CModuleHandle control;
    static HtmlHelpAProc proc = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        control.reset(::LoadLibraryA(HtmlHelpControlPath().c_str()));
        if (control)
            proc = reinterpret_cast<HtmlHelpAProc>(
                reinterpret_cast<void*>(::GetProcAddress(control.get(), MAKEINTRESOURCEA(kHtmlHelpAOrdinal))));
        if (!proc)
            control.reset();
    }
    return proc;
}

void CloseHelpWindows() {
    if (HtmlHelpAProc htmlHelp = LoadHtmlHelpA())
        htmlHelp(nullptr, nullptr, kHhCloseAll, 0);
}

DWORD ExitCodeOf(HANDLE process, DWORD unread) {
    DWORD exitCode = unread;
    return ::GetExitCodeProcess(process, &exitCode) ? exitCode : unread;
}

DWORD WaitForExit(HANDLE process) {
    ::WaitForSingleObject(process, INFINITE);
    return ExitCodeOf(process, 0);
}

// Keyboard and mouse input for the window goes to the default procedure, never to the window.
void DiscardInput(HWND hWnd) {
    MSG msg;
    while (::PeekMessageW(&msg, hWnd, WM_KEYDOWN, WM_UNICHAR, PM_REMOVE) ||
           ::PeekMessageW(&msg, hWnd, WM_MOUSEMOVE, WM_XBUTTONDBLCLK, PM_REMOVE))
        ::DefWindowProcW(hWnd, msg.message, msg.wParam, msg.lParam);
}

// The process handle, not the exit code, says when it has ended: 259 is a valid exit code.
DWORD WaitDiscardingInput(HANDLE process, HWND hWnd) {
    do {
        DiscardInput(hWnd);
    } while (::WaitForSingleObject(process, 100) == WAIT_TIMEOUT);
    return ExitCodeOf(process, STILL_ACTIVE);
}

// The disabled window keeps painting and answering sent messages while the process runs.
DWORD WaitKeepingPainted(HANDLE process, HWND hWnd) {
    ::EnableWindow(hWnd, FALSE);
    MSG msg;
    while (::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_PAINT | QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        while (::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
            ::DispatchMessageW(&msg);
    }
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // the caller's loop still has to see it
            break;
        }
        ::DispatchMessageW(&msg);
    }
    DWORD exitCode = ExitCodeOf(process, 0);
    ::EnableWindow(hWnd, TRUE);
    RixSetForegroundWindow(hWnd);
    return exitCode;
}
}  // namespace

int RixCmdExecute(const char* CmdLine, int cmd_mode, int wait_flg, const char* CurDir, DWORD* pExitCode, HWND hWnd) {
    if (!CmdLine)
        CmdLine = "";
    const int buildMode = cmd_mode % 10;
    const int showMode = cmd_mode / 10;
    const int waitMode = wait_flg % 10;
    const bool keepHelpWindows = wait_flg / 10 == 1;

    if (waitMode == 2 && !hWnd) {
        ::OutputDebugStringA("wait_flg=2では必ずhWndを指定してください\n");
        LogCommand(UnbuiltCommandLine(CmdLine), cmd_mode, wait_flg, 2, 0);
        return 2;
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    const bool hidden = buildMode == 0 ? (showMode == 0 || showMode == 2) : showMode == 2;
    startup.wShowWindow = hidden ? SW_HIDE : SW_SHOWNORMAL;

    std::string commandLine;
    if (!BuildCommandLine(CmdLine, buildMode, commandLine)) {
        LogCommand(UnbuiltCommandLine(CmdLine), buildMode, wait_flg, 1, 0);
        return 1;
    }
    if (waitMode != 0 && !keepHelpWindows)
        CloseHelpWindows();

    std::string writableLine = commandLine;  // CreateProcess may write into its command line
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, &writableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          CurDir && CurDir[0] ? CurDir : nullptr, &startup, &started)) {
        LogCommand(commandLine, buildMode, wait_flg, 1, 0);
        return 1;
    }
    CKernelHandle process(started.hProcess);
    CKernelHandle thread(started.hThread);

    DWORD exitCode = 0;
    if (waitMode == 1 || waitMode == 2) {
        if (waitMode == 2)
            exitCode = WaitKeepingPainted(process.get(), hWnd);
        else if (hWnd)
            exitCode = WaitDiscardingInput(process.get(), hWnd);
        else
            exitCode = WaitForExit(process.get());
        if (pExitCode)
            *pExitCode = exitCode;
    }
    LogCommand(commandLine, buildMode, wait_flg, 0, exitCode);
    return 0;
}

bool RixIsBatchFile(const char* CmdLine) {
    std::string lower = CmdLine ? CmdLine : "";
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    // Only the first occurrence counts, and only when it ends the program's name.
    auto endsProgramName = [&lower](const char* extension) {
        size_t at = lower.find(extension);
        if (at == std::string::npos || at == 0)
            return false;
        size_t after = at + 4;
        return after == lower.size() || lower[after] == ' ';
    };
    return endsProgramName(".bat") || endsProgramName(".cmd");
}

void RixSetForegroundWindow(HWND hWnd) {
    OSVERSIONINFOA version;
    if (!GetOsVersion(version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return;
    // The foreground lock would otherwise keep another program's window in front.
    DWORD windowThread = ::GetWindowThreadProcessId(hWnd, nullptr);
    DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    ::AttachThreadInput(windowThread, foregroundThread, TRUE);
    DWORD lockTimeout = 0;
    ::SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0);
    ::SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    ::SetForegroundWindow(hWnd);
    ::SetActiveWindow(hWnd);
    ::SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                            reinterpret_cast<void*>(static_cast<UINT_PTR>(lockTimeout)), 0);
    ::AttachThreadInput(windowThread, foregroundThread, FALSE);
}

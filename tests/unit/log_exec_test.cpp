#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <tuple>

#include "Format.h"
#include "RixExec.h"
#include "RixLog.h"
#include "TestSupport.h"

namespace {
using Messages = std::vector<std::string>;

// A line as the mailslot receives it: its bytes and the terminating zero byte.
std::string Sent(const std::string& line) { return line + '\0'; }

std::string Logged(const std::string& commandLine, int mode, int wait, int nRet, int exitCode) {
    return Sent(StrFormat("RixCmdExecute CmdLine=[%s] cmd_mode=%d wait_flg=%d nRet=%d dwExitCode=%d\n",
                          commandLine.c_str(), mode, wait, nRet, exitCode));
}

std::string ExitCodeCommand(int code, int milliseconds = 0) {
    return StrFormat("\"%stools\\exitcode.exe\" %d %d", BuildFolder().c_str(), code, milliseconds);
}

const std::string kComSpec = std::getenv("ComSpec");

// What the caller's window saw while a command ran.
bool g_paintedWhileDisabled, g_answeredWhileDisabled, g_postedMessageSeen;

LRESULT CALLBACK TestWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_paintedWhileDisabled |= message == WM_PAINT && !::IsWindowEnabled(hWnd);
    g_answeredWhileDisabled |= message == WM_APP && !::IsWindowEnabled(hWnd);
    g_postedMessageSeen |= message == WM_USER;
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}
}  // namespace

// A line goes to the mailslot with its zero byte, and to the log file once its path is set (below 260 bytes).
TEST(RixPrintf, SendsBoundedLinesToTheMailslotAndAppendsThemToTheLogFile) {
    const std::string folder = ScratchFolder("log_file"), longest(65535, 'a'), nearly(65528, 'b');
    const std::string path = folder + std::string(MAX_PATH - 1 - folder.size() - 4, 'p') + ".log";
    ASSERT_TRUE(path.size() == 259u && WriteBytes(path, "kept\r\n"));
    CMailslotReader reader;
    EXPECT_EQ(RixPrintf("O", -1, "%s=%d", "n", 7), 3);
    EXPECT_EQ(RixPrintf(nullptr, -1, "%s", longest.c_str()), 65535);
    EXPECT_LT(RixPrintf(nullptr, -1, "%s!", longest.c_str()), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "%s%s", "SetRixPrintfLogFilePath", path.c_str()), 0);  // the formatted text counts
    EXPECT_LT(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath%sx", path.c_str()), 0);     // the path in use stays
    EXPECT_EQ(RixPrintf("X", 5, "%s\n", nearly.c_str()), 65529);  // its line needs 65,536 bytes and the zero
    EXPECT_EQ(RixPrintf("X", 5, "abc\n"), 4);
    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath"), 0);  // alone it switches the file off
    EXPECT_EQ(RixPrintf(nullptr, -1, "gone\n"), 5);
    EXPECT_TRUE(ReadBytes(path) == "kept\r\n" + nearly + " [X(5)]abc [X(5)]\r\n");
    EXPECT_TRUE(reader.ReadAll() == (Messages{Sent("n=7 [O(-1)]\n"), Sent(longest), Sent(nearly + " [X(5)]"),
                                              Sent("abc [X(5)]\n"), Sent("gone\n")}));  // commands are never sent
}

// Each row runs one command and logs one line; a command line over 8,191 characters is refused.
TEST(RixCmdExecute, RunsCommandsDirectlyOrThroughTheInterpreterAndLogsEach) {
    const std::string folder = ScratchFolder("exec_run"), batch = folder + "exit.bat";
    ASSERT_TRUE(WriteBytes(batch, "@exit /b %1\r\n"));
    const std::string longest = ExitCodeCommand(7) + " " + std::string(8190 - ExitCodeCommand(7).size(), 'x');
    const std::string viaInterpreter = longest.substr(0, 8191 - kComSpec.size() - 4) + "z";
    const DWORD kUnchanged = 12345;
    const std::string showWindow = "\"" + BuildFolder() + "tools\\showwindow.exe\"";  // exits with its show command
    // The command, cmd_mode, wait_flg, folder; the result and exit code; the command line and mode it logs.
    const std::tuple<std::string, int, int, const char*, int, DWORD, std::string, int> cases[] = {
        {showWindow, 1, 1, "", 0, SW_SHOWNORMAL, showWindow, 1},
        {showWindow, 21, 1, nullptr, 0, SW_HIDE, showWindow, 1},
        {"exit 5", 20, 1, nullptr, 0, 5, kComSpec + " /c exit 5", 0},
        {batch + " 6", 1, 1, nullptr, 0, 6, batch + " 6", 1},  // not XP: the batch file starts directly
        {folder + "missing.exe", 1, 1, nullptr, 1, kUnchanged, folder + "missing.exe", 1},
        {ExitCodeCommand(5, 3000), 1, 0, nullptr, 0, kUnchanged, ExitCodeCommand(5, 3000), 1},
        {ExitCodeCommand(6), 1, 11, nullptr, 0, 6, ExitCodeCommand(6), 1},  // waits, leaving help windows open
        {ExitCodeCommand(8), 21, 2, nullptr, 2, kUnchanged, ExitCodeCommand(8), 21},  // wait mode 2 without a window
        {longest + "y", 1, 1, nullptr, 1, kUnchanged, longest, 1},  // the log shows what fits
        {viaInterpreter, 0, 1, nullptr, 1, kUnchanged, viaInterpreter, 0},
        {longest, 1, 1, nullptr, 0, 7, longest, 1},
    };
    CMailslotReader reader;
    Messages expected;
    for (const auto& [command, mode, wait, cwd, result, expectedExitCode, logged, loggedMode] : cases) {
        DWORD exitCode = kUnchanged;
        const DWORD started = ::GetTickCount();
        EXPECT_EQ(RixCmdExecute(command.c_str(), mode, wait, cwd, &exitCode, nullptr), result) << command;
        EXPECT_EQ(exitCode, expectedExitCode) << command;
        EXPECT_TRUE(wait % 10 == 1 || ::GetTickCount() - started < 2000) << command;
        expected.push_back(
            Logged(logged, loggedMode, wait, result, expectedExitCode == kUnchanged ? 0 : expectedExitCode));
    }
    // Without "ComSpec" there is no interpreter: its commands are refused, direct ones still run.
    ::SetEnvironmentVariableA("ComSpec", nullptr);
    DWORD exitCode = kUnchanged;
    EXPECT_EQ(RixCmdExecute("exit 4", 0, 1, nullptr, &exitCode, nullptr), 1);
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(4).c_str(), 1, 1, nullptr, &exitCode, nullptr), 0);
    EXPECT_EQ(exitCode, 4u);
    ::SetEnvironmentVariableA("ComSpec", kComSpec.c_str());
    expected.insert(expected.end(), {Logged("exit 4", 0, 1, 1, 0), Logged(ExitCodeCommand(4), 1, 1, 0, 4)});
    EXPECT_EQ(reader.ReadAll(), expected);
}

// Wait mode 1 discards the window's input and ends at the process handle (259 is also "still active": a wait
// on the exit code would never end); wait mode 2 keeps the disabled window painted and answering.
TEST(RixCmdExecute, WaitsWithTheCallersWindow) {
    HWND window = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TestWindowProc));
    for (UINT message : {WM_KEYDOWN, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_USER})
        ::PostMessageA(window, message, 0, 0);
    DWORD exitCode = 0;
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(259, 300).c_str(), 1, 1, nullptr, &exitCode, window), 0);
    EXPECT_EQ(exitCode, 259u);
    EXPECT_GE(::GetTickCount() - started, 300u);
    MSG msg;
    EXPECT_FALSE(::PeekMessageA(&msg, window, WM_KEYFIRST, WM_MOUSELAST, PM_NOREMOVE));
    EXPECT_TRUE(::PeekMessageA(&msg, window, WM_USER, WM_USER, PM_NOREMOVE) && !g_postedMessageSeen);

    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    std::thread asker([window] {
        ::Sleep(100);
        ::InvalidateRect(window, nullptr, TRUE);
        ::SendMessageTimeoutA(window, WM_APP, 0, 0, SMTO_NORMAL, 10000, nullptr);
    });
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(9, 500).c_str(), 1, 2, nullptr, &exitCode, window), 0);
    asker.join();
    EXPECT_TRUE(g_paintedWhileDisabled && g_answeredWhileDisabled && ::IsWindowEnabled(window));
    EXPECT_TRUE(g_postedMessageSeen);  // dispatched once the wait was over
    ::DestroyWindow(window);
}

TEST(RixIsBatchFile, LooksOnlyAtTheFirstBatAndTheFirstCmd) {
    for (const char* batch : {"x.bat", "D:\\Jobs\\RUN.BAT a b", "D:\\Jobs\\run.cmd", "a.bat.cmd"})
        EXPECT_TRUE(RixIsBatchFile(batch)) << batch;
    for (const char* other : {"\"D:\\Jobs\\run.bat\" a", "D:\\Jobs\\run.bat\"", ".bat x", "x.batch y.bat", "x.exe", ""})
        EXPECT_FALSE(RixIsBatchFile(other)) << other;
}

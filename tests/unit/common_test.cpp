// The common library: path helpers, folders and files, the diagnostic log, command execution.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <tuple>

#include "Format.h"
#include "RixExec.h"
#include "RixLog.h"
#include "RixPath.h"
#include "TestSupport.h"

namespace {
// "表" in code page 932: its trail byte is the backslash byte.
const std::string kHyou = "\x95\x5C";
std::string Set(std::string path, const char* drive, const char* folder, const char* name, const char* ext) {
    return RixSetPathParts(path, drive, folder, name, ext);
}

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

// Lead bytes of code page 932 make two-byte characters, which replace, join and trail step over.
TEST(PathParts, ReplaceJoinAndTrailStepOverDoubleByteCharactersAndRefuseLongParts) {
    const std::string bytes = "\x80\x81\x9F\xA0\xE0\xFC\xFD\\", widths = "12212211";
    for (size_t i = 0; i < bytes.size(); ++i)
        EXPECT_EQ(RixCharBytes(static_cast<unsigned char>(bytes[i])), widths[i] - '0') << i;
    EXPECT_EQ(Set("C:\\x\\n.txt", "D", nullptr, nullptr, "ini"), "D:\\x\\n.ini");
    EXPECT_EQ(Set("C:\\x\\n.txt", nullptr, "\\new", nullptr, nullptr), "C:\\new\\n.txt");
    EXPECT_EQ(Set("C:\\" + kHyou + "\\" + kHyou + ".txt", "", "", nullptr, nullptr), kHyou + ".txt");
    EXPECT_EQ(Set("C:\\dir\\" + kHyou, nullptr, nullptr, "", ""), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\dir\\\\", FALSE), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\" + kHyou, TRUE), "C:\\" + kHyou + "\\");
    EXPECT_EQ(RixJoinPath("C:\\a\\", "\\b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("C:\\a", "b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("", "b.exe"), "b.exe");
    // Each part below 256 bytes, the whole below 260.
    const std::string path258 = "C:\\" + std::string(200, 'f') + "\\" + std::string(50, 'n') + ".txt";
    EXPECT_EQ(Set(path258, nullptr, nullptr, nullptr, ".LOG1"), path258.substr(0, 254) + ".LOG1");
    EXPECT_EQ(Set(path258, nullptr, nullptr, nullptr, ".LOG12"), "");
    EXPECT_EQ(Set("C:\\x\\n", nullptr, ("\\" + std::string(254, 'g') + "\\").c_str(), nullptr, nullptr), "");
    EXPECT_EQ(Set(std::string(256, 'n'), nullptr, nullptr, nullptr, nullptr), "");
    EXPECT_EQ(Set("x", "C:x", nullptr, nullptr, nullptr), "");
}

// Made with a trailing backslash below 260 bytes; find and delete skip a folder "<folder>\*.*" makes 260.
TEST(Folders, MakeFindDeleteAndCompareWithinTheLimit) {
    const std::string root = ScratchFolder("folders"), locked = root + "sub\\locked";
    const std::string fits = root + std::string(255 - root.size(), 'f'), over = fits + "o";
    const std::string longest = root + "mk\\" + std::string(258 - root.size() - 3, 'm');
    EXPECT_TRUE(RixMakeFolder(longest) && Exists(longest));
    EXPECT_FALSE(RixMakeFolder(longest + "x") || Exists(longest + "x"));
    for (const std::string& folder : {root + "sub\\deeper", root + "Ver9", fits, over})
        ASSERT_TRUE(RixMakeFolder(folder));
    for (const std::string& file : {root + "Ver3.5", locked, root + "sub\\deeper\\a.dll", fits + "\\abc",
                                    fits + "\\abcd", over + "\\a"})
        ASSERT_TRUE(WriteBytes(file, "x"));
    CFindDataList found(1);  // earlier records stay
    EXPECT_EQ(RixFindFiles(root, "Ver*", found, FALSE), 2);  // a folder is never listed
    EXPECT_STREQ(found[1].cFileName, (root + "Ver3.5").c_str());
    EXPECT_EQ(RixFindFiles(root + "none", "*.*", found, TRUE), 2);
    found.clear();
    EXPECT_EQ(RixFindFiles(RixTrailBackslash(root, FALSE), "*.*", found, TRUE), 4);  // fits\abcd is not
    EXPECT_EQ(RixDeleteFolder(over), 1);
    EXPECT_TRUE(Exists(over + "\\a"));
    ASSERT_TRUE(::SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(RixDeleteFolder(root + "sub"), 1);
    EXPECT_TRUE(Exists(locked) && !Exists(root + "sub\\deeper"));
    ASSERT_TRUE(::SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(RixDeleteFolder(root + "sub\\"), 0);
    EXPECT_FALSE(Exists(root + "sub"));
    EXPECT_EQ(RixDeleteFolder(root + "sub"), 0);
    // Compare tells equal, different and not comparable; large files differ in their last byte only.
    const std::string large(200000, 'L');
    const std::tuple<std::string, std::string, int> cases[] = {{"", "", 0}, {"abX", "abc", 1}, {"ab", "abc", 1},
                                                               {"abc", "abc", 0}, {large, large, 0},
                                                               {large, large.substr(1) + "X", 1}};
    for (const auto& [a, b, result] : cases) {
        ASSERT_TRUE(WriteBytes(root + "a", a) && WriteBytes(root + "b", b));
        EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), result) << a.size() << " " << b.substr(0, 9);
    }
    EXPECT_EQ(RixCompareFiles(root + "a", root + "missing"), 2);
    CFileHandle held(::CreateFileA((root + "b").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 2);  // held without sharing by another program
}

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
    for (const auto& [command, mode, wait, cwd, result, code, logged, loggedMode] : cases) {
        DWORD exitCode = kUnchanged;
        const DWORD started = ::GetTickCount();
        EXPECT_EQ(RixCmdExecute(command.c_str(), mode, wait, cwd, &exitCode, nullptr), result) << command;
        EXPECT_EQ(exitCode, code) << command;
        EXPECT_TRUE(wait % 10 == 1 || ::GetTickCount() - started < 2000) << command;
        expected.push_back(Logged(logged, loggedMode, wait, result, code == kUnchanged ? 0 : code));
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
    // Only the first ".bat" or ".cmd" tells a batch file.
    for (const char* batch : {"x.bat", "D:\\Jobs\\RUN.BAT a b", "D:\\Jobs\\run.cmd", "a.bat.cmd"})
        EXPECT_TRUE(RixIsBatchFile(batch)) << batch;
    for (const char* other : {"\"D:\\Jobs\\run.bat\" a", "D:\\Jobs\\run.bat\"", ".bat x", "x.batch y.bat", "x.exe", ""})
        EXPECT_FALSE(RixIsBatchFile(other)) << other;
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

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "Format.h"
#include "Handle.h"
#include "RixExec.h"
#include "TestSupport.h"

namespace {
using Messages = std::vector<std::string>;

const char kXpNotice[] = "RixCmdExecute XP環境にて.bat/cmdが指定された場合の特別処理を適用\n";

std::string Tool(const char* name) { return BuildFolder() + "tools\\" + name + ".exe"; }

std::string ExitCodeCommand(int code, int milliseconds = 0) {
    return StrFormat("\"%s\" %d %d", Tool("exitcode").c_str(), code, milliseconds);
}

// The diagnostic line as the mailslot receives it, zero byte included.
std::string Logged(const std::string& commandLine, int mode, int wait, int nRet, int exitCode) {
    return StrFormat("RixCmdExecute CmdLine=[%s] cmd_mode=%d wait_flg=%d nRet=%d dwExitCode=%d\n", commandLine.c_str(),
                     mode, wait, nRet, exitCode) +
           '\0';
}

std::string Environment(const char* name) {
    char value[1024];
    DWORD length = ::GetEnvironmentVariableA(name, value, sizeof(value));
    return length < sizeof(value) ? std::string(value, length) : std::string();
}

std::string ComSpec() { return Environment("ComSpec"); }

std::string ThisProgram() {
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

// A copy of the stand-in data manager in a folder of its own; it records how it was started.
std::string StandInIn(const std::string& folder) {
    std::string program = folder + "ZynImpDataManager.exe";
    return ::CopyFileA(Tool("ZynImpDataManager").c_str(), program.c_str(), FALSE) ? program : std::string();
}

// Ends the test program when a call that must return does not, so that a hang fails at once.
class CDeadline {
public:
    explicit CDeadline(DWORD milliseconds)
        : m_done(::CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_watch([this, milliseconds] {
              if (::WaitForSingleObject(m_done.get(), milliseconds) == WAIT_TIMEOUT) {
                  std::fprintf(stderr, "FAILED: still waiting after %lu ms\n", milliseconds);
                  std::fflush(stderr);
                  ::ExitProcess(3);
              }
          }) {}
    ~CDeadline() {
        ::SetEvent(m_done.get());
        m_watch.join();
    }

private:
    CKernelHandle m_done;
    std::thread m_watch;
};

// Sets (or with null removes) an environment variable for the lifetime of the object.
class CEnvironmentOverride {
public:
    CEnvironmentOverride(const char* name, const char* value)
        : m_name(name), m_hadValue(::GetEnvironmentVariableA(name, nullptr, 0) > 0), m_previous(Environment(name)) {
        ::SetEnvironmentVariableA(name, value);
    }
    ~CEnvironmentOverride() { ::SetEnvironmentVariableA(m_name.c_str(), m_hadValue ? m_previous.c_str() : nullptr); }

private:
    std::string m_name;
    bool m_hadValue;
    std::string m_previous;
};

// Sets a registry value for the lifetime of the object, then puts back the old value or removes
// the key it created.
class CRegistryOverride {
public:
    CRegistryOverride(HKEY root, std::string key, const char* name, DWORD type, const std::string& data)
        : m_root(root), m_keyName(std::move(key)), m_name(name) {
        HKEY opened = nullptr;
        DWORD disposition = 0;
        if (::RegCreateKeyExA(root, m_keyName.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened,
                              &disposition) != ERROR_SUCCESS)
            return;
        m_key.reset(opened);
        m_created = disposition == REG_CREATED_NEW_KEY;
        char saved[MAX_PATH + 1];
        DWORD size = MAX_PATH;
        if (::RegQueryValueExA(opened, name, nullptr, &m_savedType, reinterpret_cast<BYTE*>(saved), &size) ==
            ERROR_SUCCESS)
            m_saved.assign(saved, size);
        m_set = ::RegSetValueExA(opened, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }
    ~CRegistryOverride() {
        if (m_created)
            ::RegDeleteKeyA(m_root, m_keyName.c_str());
        else if (m_set)
            ::RegSetValueExA(m_key.get(), m_name, 0, m_savedType, reinterpret_cast<const BYTE*>(m_saved.data()),
                             static_cast<DWORD>(m_saved.size()));
    }
    bool IsSet() const { return m_set; }

private:
    HKEY m_root;
    std::string m_keyName;
    const char* m_name;
    CRegKey m_key;
    bool m_created = false, m_set = false;
    DWORD m_savedType = 0;
    std::string m_saved;
};

// What the caller's window saw while a command ran.
struct CWindowLog {
    bool paintedWhileDisabled = false;
    bool answeredWhileDisabled = false;
    bool postedMessageSeen = false;
} g_windowLog;

LRESULT CALLBACK TestWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            ::ValidateRect(hWnd, nullptr);
            g_windowLog.paintedWhileDisabled |= !::IsWindowEnabled(hWnd);
            return 0;
        case WM_APP:
            g_windowLog.answeredWhileDisabled = !::IsWindowEnabled(hWnd);
            return 1;
        case WM_USER:
            g_windowLog.postedMessageSeen = true;
            return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

// A top-level window of this thread, standing for the caller's dialog. A popup: Wine waits
// two seconds for a window manager to hide a window with a caption, and there is none.
struct CTestWindow {
    CTestWindow() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ZynExecTestWindow";
        ::RegisterClassA(&windowClass);  // already registered by an earlier test: fine
        hWnd = ::CreateWindowExA(0, "ZynExecTestWindow", "exec", WS_POPUP, 10, 10, 200, 100, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
        g_windowLog = {};
    }
    ~CTestWindow() { ::DestroyWindow(hWnd); }
    HWND hWnd;
};

bool IsReportedAsXp() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return ::GetVersionExA(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 1;
}

std::string WriteExitBatch(const std::string& folder) {
    std::string batch = folder + "exit.bat";
    return WriteBytes(batch, "@exit /b %1\r\n") ? batch : std::string();
}
}  // namespace

// Direct and interpreter commands, waiting and not, and the ones that start nothing:
// each gives its result and exit code and logs one line.
TEST(RixCmdExecute, RunsCommandsDirectlyOrThroughTheInterpreterAndLogsEach) {
    ASSERT_FALSE(IsReportedAsXp());
    const std::string folder = ScratchFolder("exec_run");
    const std::string batch = WriteExitBatch(folder), standIn = StandInIn(folder), missing = folder + "missing.exe";
    ASSERT_FALSE(batch.empty() || standIn.empty());
    const DWORD kUnchanged = 12345;
    const struct {
        std::string command;
        int mode, wait;
        const char* folder;
        int result;
        DWORD exitCode;
        std::string logged;  // the command line built, and the mode it logs
        int loggedMode;
    } cases[] = {
        {ExitCodeCommand(42), 1, 1, nullptr, 0, 42, ExitCodeCommand(42), 1},
        {ExitCodeCommand(7), 21, 1, "", 0, 7, ExitCodeCommand(7), 1},
        {ExitCodeCommand(3), 0, 1, nullptr, 0, 3, ComSpec() + " /c " + ExitCodeCommand(3), 0},
        {"exit 5", 20, 1, nullptr, 0, 5, ComSpec() + " /c exit 5", 0},
        {"cd > here.txt", 10, 1, folder.c_str(), 0, 0, ComSpec() + " /c cd > here.txt", 0},
        {batch + " 6", 1, 1, nullptr, 0, 6, batch + " 6", 1},  // not XP: the batch file starts directly
        {missing, 1, 1, nullptr, 1, kUnchanged, missing, 1},
        {ExitCodeCommand(5, 3000), 1, 0, nullptr, 0, kUnchanged, ExitCodeCommand(5, 3000), 1},
        {ExitCodeCommand(6, 3000), 1, 10, nullptr, 0, kUnchanged, ExitCodeCommand(6, 3000), 1},
        {standIn, 21, 2, nullptr, 2, kUnchanged, standIn, 21},  // wait mode 2 without a window
    };
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    Messages expected;
    for (const auto& c : cases) {
        DWORD exitCode = kUnchanged;
        const DWORD started = ::GetTickCount();
        EXPECT_EQ(RixCmdExecute(c.command.c_str(), c.mode, c.wait, c.folder, &exitCode, nullptr), c.result) << c.command;
        EXPECT_EQ(exitCode, c.exitCode) << c.command;
        if (c.wait % 10 != 1) {
            EXPECT_LT(::GetTickCount() - started, 2000u) << c.command;
        }
        expected.push_back(Logged(c.logged, c.loggedMode, c.wait, c.result, c.exitCode == kUnchanged ? 0 : c.exitCode));
    }
    EXPECT_EQ(reader.ReadAll(), expected);
    EXPECT_EQ(ReadBytes(folder + "here.txt"), folder.substr(0, folder.size() - 1) + "\r\n");
    ::Sleep(500);  // time enough for a wrongly started stand-in to leave its record
    EXPECT_FALSE(Exists(folder + "ZynImpDataManager.args"));
}

TEST(RixCmdExecute, TensDigitOfTheModeHidesTheWindow) {
    const std::string command = "\"" + Tool("showwindow") + "\"";
    const struct {
        int mode;
        DWORD show;
    } cases[] = {{1, SW_SHOWNORMAL}, {11, SW_SHOWNORMAL}, {21, SW_HIDE}, {31, SW_SHOWNORMAL}};
    for (const auto& c : cases) {
        DWORD show = 0xFFFF;
        EXPECT_EQ(RixCmdExecute(command.c_str(), c.mode, 1, nullptr, &show, nullptr), 0);
        EXPECT_EQ(show, c.show) << "cmd_mode " << c.mode;
    }
}

TEST(RixCmdExecute, CommandLineBeyond8191CharactersIsRefused) {
    const std::string folder = ScratchFolder("exec_limit");
    const std::string standIn = StandInIn(folder);
    ASSERT_FALSE(standIn.empty());
    const std::string record = folder + "ZynImpDataManager.args";
    const std::string longest = standIn + " " + std::string(8190 - standIn.size(), 'x');
    ASSERT_EQ(longest.size(), 8191u);
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());

    EXPECT_EQ(RixCmdExecute((longest + "y").c_str(), 1, 1, nullptr, nullptr, nullptr), 1);
    const std::string throughInterpreter = longest.substr(0, 8191 - ComSpec().size() - 4) + "z";
    EXPECT_EQ(RixCmdExecute(throughInterpreter.c_str(), 0, 1, nullptr, nullptr, nullptr), 1);
    EXPECT_FALSE(Exists(record));
    DWORD exitCode = 1;
    EXPECT_EQ(RixCmdExecute(longest.c_str(), 1, 1, nullptr, &exitCode, nullptr), 0);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(ReadBytes(record) == longest);

    Messages logged = reader.ReadAll();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_TRUE(logged[0] == Logged(longest, 1, 1, 1, 0));  // the log shows what fits
    EXPECT_TRUE(logged[1] == Logged(throughInterpreter, 0, 1, 1, 0));
    EXPECT_TRUE(logged[2] == Logged(longest, 1, 1, 0, 0));
}

TEST(RixCmdExecute, UnsetComSpecRefusesInterpreterCommandsOnly) {
    CEnvironmentOverride noInterpreter("ComSpec", nullptr);
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    DWORD exitCode = 12345;
    EXPECT_EQ(RixCmdExecute("exit 4", 0, 1, nullptr, &exitCode, nullptr), 1);
    EXPECT_EQ(exitCode, 12345u);
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(4).c_str(), 1, 1, nullptr, &exitCode, nullptr), 0);
    EXPECT_EQ(exitCode, 4u);
    EXPECT_EQ(reader.ReadAll(), (Messages{Logged("exit 4", 0, 1, 1, 0), Logged(ExitCodeCommand(4), 1, 1, 0, 4)}));
}

TEST(RixCmdExecute, WaitWithWindowDiscardsItsInputAndEndsOnExitCode259) {
    CTestWindow window;
    ASSERT_NE(window.hWnd, nullptr);
    ::PostMessageA(window.hWnd, WM_KEYDOWN, 'A', 0);
    ::PostMessageA(window.hWnd, WM_LBUTTONDOWN, 0, 0);
    ::PostMessageA(window.hWnd, WM_USER, 0, 0);
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    DWORD exitCode = 0;
    {
        CDeadline deadline(10000);  // 259 is also "still active": a poll of the exit code never ends
        EXPECT_EQ(RixCmdExecute(ExitCodeCommand(259, 300).c_str(), 1, 1, nullptr, &exitCode, window.hWnd), 0);
    }
    EXPECT_EQ(exitCode, 259u);
    MSG msg;
    EXPECT_FALSE(::PeekMessageA(&msg, window.hWnd, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_FALSE(::PeekMessageA(&msg, window.hWnd, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE));
    EXPECT_TRUE(::PeekMessageA(&msg, window.hWnd, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(reader.ReadAll(), Messages{Logged(ExitCodeCommand(259, 300), 1, 1, 0, 259)});
}

TEST(RixCmdExecute, WaitMode2KeepsTheDisabledWindowAliveAndEnablesItAgain) {
    CTestWindow window;
    ASSERT_NE(window.hWnd, nullptr);
    ::ShowWindow(window.hWnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(window.hWnd);
    ::InvalidateRect(window.hWnd, nullptr, TRUE);
    ::PostMessageA(window.hWnd, WM_USER, 0, 0);
    DWORD exitCode = 0;
    LRESULT answer = 0;
    {
        CDeadline deadline(20000);
        std::thread asker([&window, &answer] {
            ::Sleep(100);
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutA(window.hWnd, WM_APP, 0, 0, SMTO_NORMAL, 10000, &result))
                answer = static_cast<LRESULT>(result);
        });
        EXPECT_EQ(RixCmdExecute(ExitCodeCommand(9, 500).c_str(), 1, 2, nullptr, &exitCode, window.hWnd), 0);
        asker.join();
    }
    EXPECT_EQ(exitCode, 9u);
    EXPECT_TRUE(g_windowLog.paintedWhileDisabled);
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(g_windowLog.answeredWhileDisabled);
    EXPECT_TRUE(g_windowLog.postedMessageSeen);  // dispatched once the wait was over
    EXPECT_TRUE(::IsWindowEnabled(window.hWnd));
}

TEST(RixIsBatchFile, LooksOnlyAtTheFirstBatAndTheFirstCmd) {
    // "a.bat.cmd": no batch by its .bat, but by its .cmd.
    for (const char* batch : {"x.bat", "D:\\Jobs\\RUN.BAT a b", "D:\\Jobs\\run.cmd", "a.bat.cmd"})
        EXPECT_TRUE(RixIsBatchFile(batch)) << batch;
    for (const char* other : {"\"D:\\Jobs\\run.bat\" a", "D:\\Jobs\\run.bat\"", ".bat x", "x.batch y.bat", "x.exe", ""})
        EXPECT_FALSE(RixIsBatchFile(other)) << other;
}

// Run by the test below in a copy of this program to which Wine reports Windows XP.
TEST(OnWindowsXp, DISABLED_BatchFileExitCodeComesBackThroughTheInterpreter) {
    ASSERT_TRUE(IsReportedAsXp());
    const std::string folder = ThisProgram().substr(0, ThisProgram().find_last_of('\\') + 1);
    DWORD exitCode = 0;
    EXPECT_EQ(RixCmdExecute((folder + "exit.bat 6").c_str(), 1, 1, nullptr, &exitCode, nullptr), 0);
    EXPECT_EQ(exitCode, 6u);
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(4).c_str(), 0, 1, nullptr, &exitCode, nullptr), 0);
    EXPECT_EQ(exitCode, 4u);
}

TEST(RixCmdExecute, OnWindowsXpBatchFilesRunThroughTheInterpreter) {
    const std::string folder = ScratchFolder("exec_xp");
    const std::string batch = WriteExitBatch(folder);
    const std::string child = folder + "exec_xp.exe";
    ASSERT_TRUE(::CopyFileA(ThisProgram().c_str(), child.c_str(), FALSE));
    // Wine reports Windows XP to a program whose name is listed so under AppDefaults.
    CRegistryOverride xp(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\exec_xp.exe", "Version", REG_SZ, "winxp");
    ASSERT_TRUE(xp.IsSet());
    const std::string command =
        "\"" + child + "\" --gtest_also_run_disabled_tests --gtest_filter=OnWindowsXp.* --gtest_brief=1";
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    DWORD exitCode = 1;
    {
        CDeadline deadline(30000);
        EXPECT_EQ(RixCmdExecute(command.c_str(), 1, 1, nullptr, &exitCode, nullptr), 0);
    }
    EXPECT_EQ(exitCode, 0u) << "the test in the Windows XP child failed";
    EXPECT_EQ(reader.ReadAll(),
              (Messages{kXpNotice + std::string(1, '\0'),
                        Logged(ComSpec() + " /v:on /k \"" + batch + " 6\" & exit !errorlevel!", 1, 1, 0, 6),
                        Logged(ComSpec() + " /c " + ExitCodeCommand(4), 0, 1, 0, 4), Logged(command, 1, 1, 0, 0)}));
}

// Run by the test below in a fresh process.
TEST(HelpControl, DISABLED_IsUsedOnlyByWaitsThatCloseHelpWindows) {
    ASSERT_EQ(::GetModuleHandleA("hhctrl.ocx"), nullptr);
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(0).c_str(), 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(0).c_str(), 1, 11, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(::GetModuleHandleA("hhctrl.ocx"), nullptr);
    CTestWindow window;
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(0).c_str(), 1, 2, nullptr, nullptr, window.hWnd), 0);
    EXPECT_NE(::GetModuleHandleA("hhctrl.ocx"), nullptr);
}

// Run by the test below with the control's registration pointing at the variable ZYN_HELP_CONTROL.
TEST(HelpControl, DISABLED_IsLoadedFromItsRegisteredPath) {
    EXPECT_EQ(RixCmdExecute(ExitCodeCommand(0).c_str(), 1, 1, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(::GetModuleHandleA("hhctrl.ocx") != nullptr, Environment("ZYN_HELP_EXPECTED") == "loaded");
}

// Each child is a fresh process, where the control is loaded at its first use.
TEST(RixCmdExecute, HelpControlIsLoadedOnlyToCloseHelpWindowsAndFromItsRegistration) {
    const std::string command = "\"" + ThisProgram() + "\" --gtest_also_run_disabled_tests --gtest_brief=1";
    DWORD exitCode = 1;
    EXPECT_EQ(RixCmdExecute((command + " --gtest_filter=HelpControl.*UsedOnly*").c_str(), 1, 1, nullptr, &exitCode,
                            nullptr),
              0);
    EXPECT_EQ(exitCode, 0u) << "the test in the child failed";

    CRegistryOverride registration(HKEY_CLASSES_ROOT, "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", "",
                                   REG_EXPAND_SZ, "%ZYN_HELP_CONTROL%");
    ASSERT_TRUE(registration.IsSet());
    char system[MAX_PATH];
    ASSERT_NE(::GetSystemDirectoryA(system, MAX_PATH), 0u);
    const struct {
        std::string path;
        const char* expected;
    } cases[] = {{std::string(system) + "\\hhctrl.ocx", "loaded"},
                 {ScratchFolder("exec_help") + "hhctrl.ocx", "missing"}};
    for (const auto& c : cases) {
        CEnvironmentOverride path("ZYN_HELP_CONTROL", c.path.c_str());
        CEnvironmentOverride expected("ZYN_HELP_EXPECTED", c.expected);
        exitCode = 1;
        EXPECT_EQ(RixCmdExecute((command + " --gtest_filter=HelpControl.*Registered*").c_str(), 1, 1, nullptr,
                                &exitCode, nullptr),
                  0);
        EXPECT_EQ(exitCode, 0u) << "the child expecting the control " << c.expected << " failed";
    }
}

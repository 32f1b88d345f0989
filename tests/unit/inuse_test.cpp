// The file-in-use check and the module users, against real helper processes that
// hold a file open or keep a DLL loaded (tests/tools/holdfile.cpp, loaddll.cpp).
#include <gtest/gtest.h>

#include "Handle.h"
#include "MessageBox.h"
#include "RixModuleUsers.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
const std::string kHeader =
    "下記ﾌｧｲﾙが使用されています\n"
    "ｱﾌﾟﾘｹｰｼｮﾝを終了してから再試行ﾎﾞﾀﾝをｸﾘｯｸしてください\n";

std::string ToolPath(const std::string& tool) { return BuildFolder() + "tools\\" + tool + ".exe"; }

bool CanOpenExclusively(const std::string& path) {
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

// A helper program that holds path (holdfile) or keeps it loaded (loaddll) until it ends.
class CHolder {
public:
    CHolder(const std::string& tool, const std::string& path) {
        std::string command = "\"" + ToolPath(tool) + "\" \"" + path + "\" 30";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return;
        m_process.reset(info.hProcess);
        CKernelHandle thread(info.hThread);
        // Held once the exclusive open fails; a helper that ended early holds nothing.
        for (int i = 0; i < 500 && CanOpenExclusively(path); ++i)
            if (::WaitForSingleObject(m_process.get(), 20) == WAIT_OBJECT_0)
                break;
        m_bHolding = !CanOpenExclusively(path);
    }
    ~CHolder() { End(); }
    bool Holding() const { return m_bHolding; }
    void End() {
        if (!m_process)
            return;
        ::TerminateProcess(m_process.get(), 0);
        ::WaitForSingleObject(m_process.get(), 10000);
        m_process.reset();
    }

private:
    CKernelHandle m_process;
    bool m_bHolding = false;
};

class InUseTest : public testing::Test {
protected:
    void SetUp() override {
        std::string folder =
            ScratchFolder("inuse_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_dlg.m_strWorkDir = folder + "work\\";
        m_dlg.m_strCadDir = folder + "cad\\";
        ASSERT_TRUE(RixMakeFolder(m_dlg.m_strCadDir + "sub"));
        ASSERT_TRUE(RixMakeFolder(m_dlg.m_strWorkDir + "sub"));
    }
    // An installed file and its extracted counterpart; returns the extracted path.
    std::string Installed(const std::string& name) {
        EXPECT_TRUE(WriteBytes(m_dlg.m_strCadDir + name, "installed"));
        return m_dlg.m_strWorkDir + name;
    }

    CZynUpdateDlg m_dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
};

// Answers the first Retry/Cancel box by ending the holder and retrying, any later one
// with Cancel.
struct CRetryAfterEnding {
    static int Hook(HWND, const char* text, const char*, UINT type) {
        texts.push_back(text);
        types.push_back(type);
        if (texts.size() > 1 || !holder)
            return IDCANCEL;
        holder->End();
        return IDRETRY;
    }
    static CHolder* holder;
    static std::vector<std::string> texts;
    static std::vector<UINT> types;
};
CHolder* CRetryAfterEnding::holder = nullptr;
std::vector<std::string> CRetryAfterEnding::texts;
std::vector<UINT> CRetryAfterEnding::types;
}  // namespace

TEST_F(InUseTest, FilesThatAreFreeOrNewPassWithoutAMessage) {
    CMessageBoxRecorder boxes;
    EXPECT_EQ(m_dlg.CheckFilesInUse({}), 1);
    std::vector<std::string> files = {Installed("free.dll"), Installed("sub\\free.exe"), m_dlg.m_strWorkDir + "new.dll",
                                      m_dlg.m_strWorkDir + "sub\\new.txt"};
    EXPECT_EQ(m_dlg.CheckFilesInUse(files), 1);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(InUseTest, AHeldFileStaysBlockedUntilItsProgramEndsAndRetryIsAnswered) {
    std::string extracted = Installed("sub\\held.exe");
    std::string installed = m_dlg.m_strCadDir + "sub\\held.exe";
    CHolder holder("holdfile", installed);
    ASSERT_TRUE(holder.Holding());

    CRetryAfterEnding::holder = &holder;
    CRetryAfterEnding::texts.clear();
    CRetryAfterEnding::types.clear();
    MessageBoxHook previous = SetMessageBoxHook(CRetryAfterEnding::Hook);
    int result = m_dlg.CheckFilesInUse({extracted});
    SetMessageBoxHook(previous);
    CRetryAfterEnding::holder = nullptr;

    EXPECT_EQ(result, 1);
    EXPECT_EQ(CRetryAfterEnding::texts, std::vector<std::string>{kHeader + installed + "\n"});
    EXPECT_EQ(CRetryAfterEnding::types, std::vector<UINT>{MB_RETRYCANCEL});
}

TEST_F(InUseTest, NamesTheProgramsThatHaveABlockedDllLoaded) {
    std::vector<std::string> files = {Installed("sub\\HELPER.DLL"), Installed("tool.exe"), Installed("free.txt"),
                                      m_dlg.m_strWorkDir + "new.dll"};
    std::string cad = m_dlg.m_strCadDir;
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "unzip32.dll").c_str(), (cad + "sub\\HELPER.DLL").c_str(), FALSE));
    CHolder dllUser("loaddll", cad + "sub\\HELPER.DLL");
    CHolder fileHolder("holdfile", cad + "tool.exe");
    ASSERT_TRUE(dllUser.Holding());
    ASSERT_TRUE(fileHolder.Holding());

    CMessageBoxRecorder boxes;  // answers Cancel
    EXPECT_EQ(m_dlg.CheckFilesInUse(files), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              kHeader + cad + "sub\\HELPER.DLL (使用先:" + ToolPath("loaddll") + ")\n" + cad + "tool.exe\n");
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_RETRYCANCEL));
}

TEST_F(InUseTest, ModuleUsersAreEveryProgramThatHasTheModuleLoaded) {
    std::string dll = m_dlg.m_strCadDir + "shared.dll";
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "unzip32.dll").c_str(), dll.c_str(), FALSE));
    std::vector<std::string> users = {"left over"};
    EXPECT_EQ(RixGetModuleUsers(dll, users), 0);
    EXPECT_TRUE(users.empty());

    CHolder first("loaddll", dll);
    CHolder second("loaddll", dll);
    ASSERT_TRUE(first.Holding() && second.Holding());
    std::string lowerCase = dll;
    CharLowerA(&lowerCase[0]);
    EXPECT_EQ(RixGetModuleUsers(lowerCase, users), 2);
    EXPECT_EQ(users, std::vector<std::string>(2, ToolPath("loaddll")));
}

TEST(ProcessModules, ListTheMainExecutableFirst) {
    std::string self;
    RixGetModulePath(self, TRUE);
    std::vector<std::string> modules = {"left over"};
    EXPECT_TRUE(RixGetProcessModules(0, modules));
    ASSERT_GT(modules.size(), 1u);
    EXPECT_EQ(modules[0], self);
    EXPECT_TRUE(RixGetProcessModules(::GetCurrentProcessId(), modules));
    EXPECT_EQ(modules[0], self);

    // Process ids are multiples of four: this one belongs to no process.
    EXPECT_FALSE(RixGetProcessModules(0xFFFFFFF1, modules));
    EXPECT_TRUE(modules.empty());
}

// CZynUpdateDlg::Extract with our unzip32.dll found by its plain name, as the program
// loads it, on the archives that tests/make_archives.py writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ProgressDlg.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "WinApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
const char kNoFilesMessage[] = "展開された更新ﾌｧｲﾙを取得できませんでした";

std::string Archive(const std::string& name) { return BuildFolder() + "archives\\" + name; }

// Records every text given to a window of this thread while it lives.
class CSetTextSpy {
public:
    CSetTextSpy() {
        s_spy = this;
        m_hook = ::SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, ::GetCurrentThreadId());
    }
    ~CSetTextSpy() {
        ::UnhookWindowsHookEx(m_hook);
        s_spy = nullptr;
    }
    std::vector<std::string> messageLine;  // texts of the progress dialog's message line
    std::vector<std::string> others;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && s_spy && message->message == WM_SETTEXT && message->lParam) {
            std::string text = reinterpret_cast<const char*>(message->lParam);
            if (::GetDlgCtrlID(message->hwnd) == IDC_PROGRESS_MESSAGE && ::GetParent(message->hwnd))
                s_spy->messageLine.push_back(text);
            else
                s_spy->others.push_back(text);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static CSetTextSpy* s_spy;
    HHOOK m_hook;
};
CSetTextSpy* CSetTextSpy::s_spy = nullptr;

class ExtractTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));
        std::string folder =
            ScratchFolder("extract_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_dlg.m_strWorkDir = folder + "ZynUpdate\\";
        ASSERT_TRUE(RixMakeFolder(m_dlg.m_strWorkDir + "old"));
        ASSERT_TRUE(WriteBytes(m_dlg.m_strWorkDir + "old\\stale.dll", "from the last update"));
        m_dlg.m_files = {"previous list"};
    }
    void TearDown() override { ::SetDllDirectoryA(nullptr); }

    CZynUpdateDlg m_dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
    CMessageBoxRecorder m_boxes;
};
}  // namespace

TEST_F(ExtractTest, ListsTheExtractedFilesAndShowsEachNameWhileExtracting) {
    m_dlg.m_strUpdateFile = Archive("update_sfx_unadjusted.exe");  // a warning is no failure
    CSetTextSpy spy;
    EXPECT_EQ(m_dlg.Extract(), 1);

    EXPECT_TRUE(m_boxes.Shown().empty());
    std::vector<std::string> expected;
    for (const char* file :
         {"CAD\\Ver3.5", "CAD\\ZynCad.exe", "CAD\\sub\\a.dll", "CAD\\sub\\deeper\\b.txt", "CAD\\sub\\deeper\\zero.txt",
          "CAD\\表示\\表.txt", "CAD\\stored.bin", "CAD\\ソフト\\表.dll"})
        expected.push_back(m_dlg.m_strWorkDir + file);
    std::vector<std::string> listed = m_dlg.m_files;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);  // the stale file is gone, the empty folder is not listed
    EXPECT_TRUE(Exists(m_dlg.m_strWorkDir + "CAD\\empty"));

    // The DLL's warning about the stub goes through the same callback.
    std::string warning =
        "update_sfx_unadjusted.exe]:  24574 extra bytes at beginning or within zipfile "
        "(attempting to process anyway)";
    EXPECT_EQ(spy.messageLine, (std::vector<std::string>{warning, "Ver3.5", "ZynCad.exe", "a.dll", "b.txt", "zero.txt",
                                                         "表.txt", "stored.bin", "表.dll"}));
    EXPECT_NE(std::find(spy.others.begin(), spy.others.end(), "解凍中"), spy.others.end());
    EXPECT_EQ(g_pProgressDlg, nullptr);
}

TEST_F(ExtractTest, AnErrorOfTheDllFailsTheExtractionEvenWithFilesWritten) {
    // Each with a file that the DLL wrote before or after its error, truncated.zip with none.
    const std::pair<const char*, const char*> cases[] = {
        {"damaged.zip", "good.txt"}, {"slip.zip", "ok.txt"}, {"truncated.zip", nullptr}};
    for (const auto& [archive, written] : cases) {
        m_boxes.Clear();
        m_dlg.m_strUpdateFile = Archive(archive);
        EXPECT_EQ(m_dlg.Extract(), 0) << archive;
        ASSERT_EQ(m_boxes.Shown().size(), 1u) << archive;
        EXPECT_EQ(m_boxes.Shown()[0].text, kNoFilesMessage);
        EXPECT_EQ(m_boxes.Shown()[0].caption, "CZynUpdateDlg::Extract");
        EXPECT_EQ(m_boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
        EXPECT_EQ(m_dlg.m_files, std::vector<std::string>{"previous list"});
        if (written) {
            EXPECT_TRUE(Exists(m_dlg.m_strWorkDir + written)) << archive;
        }
    }
}

TEST_F(ExtractTest, AnArchiveWithoutFilesFails) {
    m_dlg.m_strUpdateFile = Archive("empty.zip");
    EXPECT_EQ(m_dlg.Extract(), 0);
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{kNoFilesMessage});
    EXPECT_FALSE(Exists(m_dlg.m_strWorkDir + "old\\stale.dll"));
}

TEST_F(ExtractTest, AMissingDllShowsTheLoadMessageWithThePlainName) {
    ASSERT_TRUE(::SetDllDirectoryA(ScratchFolder("extract_nodll").c_str()));
    HMODULE found = ::LoadLibraryA("unzip32.dll");
    ASSERT_EQ(found, nullptr) << "an unzip32.dll is reachable by its plain name from the test program";

    m_dlg.m_strUpdateFile = Archive("update.zip");
    EXPECT_EQ(m_dlg.Extract(), 0);
    EXPECT_EQ(m_boxes.Texts(),
              (std::vector<std::string>{"zip解凍用DLL[unzip32.dll]を読み込みできませんでした", kNoFilesMessage}));
    EXPECT_EQ(m_boxes.Shown()[0].caption, AfxGetApp()->m_pszAppName);
    EXPECT_EQ(m_boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(m_dlg.m_files, std::vector<std::string>{"previous list"});
    EXPECT_FALSE(Exists(m_dlg.m_strWorkDir + "old\\stale.dll"));
}

TEST(UnzipPrint, ShowsOnlyTheFileNameOnTheProgressDialog) {
    CProgressDlg progress;
    ASSERT_TRUE(progress.Create(nullptr));
    g_pProgressDlg = &progress;
    auto print = [](std::string text) {
        return CZynUpdateDlg::OnUnzipPrint(&text[0], static_cast<unsigned long>(text.size()));
    };
    auto shown = [&progress] {
        char text[MAX_PATH] = "";
        ::GetDlgItemTextA(progress.GetSafeHwnd(), IDC_PROGRESS_MESSAGE, text, MAX_PATH);
        return std::string(text);
    };

    const std::string line = "  inflating: D:\\work\\CAD\\sub\\a.dll";
    EXPECT_EQ(print(line), static_cast<int>(line.size()));  // the DLL is told every byte was taken
    EXPECT_EQ(shown(), "a.dll");
    // Info-ZIP's own lines: forward slashes, padding, and a line end sent on its own.
    print("  inflating: C:/Temp/ZynUpdate/CAD/表示/表.txt            ");
    EXPECT_EQ(shown(), "表.txt");
    EXPECT_EQ(print("\n"), 1);
    EXPECT_EQ(shown(), "表.txt");
    print("warning [D:\\u.exe]:  24576 extra bytes at beginning or within zipfile");
    EXPECT_EQ(shown(), "u.exe]:  24576 extra bytes at beginning or within zipfile");

    g_pProgressDlg = nullptr;
    EXPECT_EQ(print(line), static_cast<int>(line.size()));
    EXPECT_EQ(shown(), "u.exe]:  24576 extra bytes at beginning or within zipfile");
}

// What the real program cannot easily reach; the ordinary update and restore run in test_backup.py.
#include <gtest/gtest.h>

#include <map>

#include "Handle.h"
#include "ProgressDlg.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "progress_watch.h"

namespace {
using Files = std::map<std::string, std::string>;
using Texts = std::vector<std::string>;
const char kReplaceCaption[] = "CZynUpdateDlg::Replace";

// Caption, type and text of a box in one string, so that one comparison checks all three.
std::string Box(const std::string& caption, UINT type, const std::string& text) {
    return caption + "/" + std::to_string(type) + ": " + text;
}
Texts Shown(const CMessageBoxRecorder& boxes) {
    Texts shown;
    for (const CShownBox& box : boxes.Shown())
        shown.push_back(Box(box.caption, box.type, box.text));
    return shown;
}

// An installation CAD\, its update extracted into Work\, and generation 1 to be logged beside the help file.
class BackupTest : public testing::Test {
protected:
    void SetUp() override {
        root = ScratchFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
        cad = root + "CAD\\";
        ASSERT_TRUE(RixMakeFolder(root + "Prog") && RixMakeFolder(cad) && RixMakeFolder(root + "Work"));
        AfxGetApp()->SetHelpFilePath(root + "Prog\\ZynUpdate.chm");
        ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));
        dlg.m_strWorkDir = root + "Work\\";
        dlg.m_strCadDir = cad;
        dlg.m_nLogCount = 1;
    }
    std::string Log(int n) const { return root + "Prog\\ZynUpdate.LOG" + std::to_string(n); }
    static std::string Undoing(const std::string& dst) { return "退避ﾌｧｲﾙ[" + dst + ".BAK1]から元ﾌｧｲﾙ[" + dst + "]に復元中"; }
    // Installs files and extracts the update's files (listed in the order given).
    void Lay(const Files& installed, const std::vector<std::pair<std::string, std::string>>& update = {}) {
        for (const auto& [name, bytes] : installed)
            ASSERT_TRUE(WriteBytes(cad + name, bytes));
        for (const auto& [name, bytes] : update) {
            ASSERT_TRUE(WriteBytes(dlg.m_strWorkDir + name, bytes));
            dlg.m_files.push_back(dlg.m_strWorkDir + name);
        }
    }
    CFileHandle Lock(const std::string& name) const {
        return CFileHandle(::CreateFileA((cad + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    Files Tree() const {
        CFindDataList found;
        RixFindFiles(cad, "*", found, TRUE);
        Files tree;
        for (const WIN32_FIND_DATAA& file : found)
            tree[std::string(file.cFileName).substr(cad.size())] = ReadBytes(file.cFileName);
        return tree;
    }

    std::string root, cad;
    CZynUpdateDlg dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
};
}  // namespace

// Each backup is listed before its file is replaced; a cancel puts back newest first and leaves no log.
TEST_F(BackupTest, CancelPutsBackNewestFirstAndLeavesNoGeneration) {
    Lay({{"1", "old"}, {"2", "old"}, {"3", "old"}}, {{"1", "new"}, {"2", "new"}, {"3", "new"}, {"added", "new"}});
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    Texts logWhileCopying;
    progress.OnMessage([&](const std::string& message) { logWhileCopying.push_back(message + ReadBytes(Log(1))); });
    progress.CancelAtPosition(2);  // the click lands while the second entry is being copied
    EXPECT_FALSE(dlg.Replace(FALSE));
    const std::string listed1 = cad + "1.BAK1\r\n", listed2 = listed1 + cad + "2.BAK1\r\n";
    EXPECT_EQ(logWhileCopying, (Texts{cad + "1を更新中" + listed1, cad + "2を更新中" + listed2,
                                      Undoing(cad + "2") + listed2, Undoing(cad + "1") + listed2}));
    EXPECT_EQ(Shown(boxes), Texts{Box(AfxGetApp()->m_pszAppName, MB_OK | MB_ICONINFORMATION, "ﾌｧｲﾙの更新を中断しました")});
    EXPECT_EQ(Tree(), (Files{{"1", "old"}, {"1.BAK1", "old"}, {"2", "old"}, {"2.BAK1", "old"}, {"3", "old"}}));
    EXPECT_FALSE(Exists(Log(1)));
}

// Backups that an earlier run left behind are no backups of this call: the undo puts back
// what this call saved, the failed entry included (passed over, as it is still equal).
TEST_F(BackupTest, ACopyOntoALockedFileFailsAndOnlyTheFilesSavedArePutBack) {
    Lay({{"a", "old"}, {"same", "same"}, {"same.BAK1", "stale"}, {"added.BAK1", "stale"}, {"locked", "old"}, {"c", "old"}},
        {{"a", "new"}, {"same", "same"}, {"added", "new"}, {"locked", "new"}, {"c", "new"}});
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    CFileHandle holder = Lock("locked");
    EXPECT_FALSE(dlg.Replace(FALSE));
    EXPECT_EQ(dlg.CheckFilesInUse({dlg.m_strWorkDir + "locked"}), 0);  // the check before would have caught it
    const std::string a = cad + "a", locked = cad + "locked";
    EXPECT_EQ(progress.messages,
              (Texts{a + "を更新中", cad + "added" + "を更新中", locked + "を更新中", Undoing(locked), Undoing(a)}));
    EXPECT_EQ(Shown(boxes),
              (Texts{Box(kReplaceCaption, MB_OK, "ﾌｧｲﾙ[" + dlg.m_strWorkDir + "locked]を[" + locked + "]に更新できませんでした"),
                     Box(AfxGetApp()->m_pszAppName, MB_RETRYCANCEL,
                         "下記ﾌｧｲﾙが使用されています\nｱﾌﾟﾘｹｰｼｮﾝを終了してから再試行ﾎﾞﾀﾝをｸﾘｯｸしてください\n" + locked + "\n")}));
    EXPECT_EQ(Tree(), (Files{{"a", "old"}, {"a.BAK1", "old"}, {"same", "same"}, {"same.BAK1", "stale"}, {"added", "new"},
                             {"added.BAK1", "stale"}, {"locked", "old"}, {"locked.BAK1", "old"}, {"c", "old"}}));
    EXPECT_FALSE(Exists(Log(1)));
}

TEST_F(BackupTest, ARestoreUndoNeverCopiesAStaleSafetyCopy) {
    // The first file was deleted meanwhile and has an old safety copy; the second is locked.
    Lay({{"gone.BAK1", "backup gone"}, {"gone.ORG", "stale"}, {"locked", "current"}, {"locked.BAK1", "backup"}});
    dlg.m_files = {cad + "gone", cad + "locked"};
    WriteBytes(Log(1), "");
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    CFileHandle holder = Lock("locked");
    EXPECT_FALSE(dlg.Replace(TRUE));
    EXPECT_EQ(progress.Caption(), "復元中");
    EXPECT_EQ(Shown(boxes), Texts{Box(kReplaceCaption, MB_OK,
                                      "ﾌｧｲﾙ[" + cad + "locked.BAK1]を[" + cad + "locked]に復元できませんでした")});
    EXPECT_EQ(Tree(), (Files{{"gone", "backup gone"}, {"gone.BAK1", "backup gone"}, {"gone.ORG", "stale"},
                             {"locked", "current"}, {"locked.BAK1", "backup"}, {"locked.ORG", "current"}}));
    EXPECT_TRUE(Exists(Log(1)));  // a failed restore keeps its generation
}

// Lines of other generations or no backup name are passed over, and so is a missing
// backup, except by a restore, which stops before anything changes.
TEST_F(BackupTest, OnlyExistingBackupsOfTheGenerationAreReadAndAMissingOneStopsARestore) {
    Lay({{"a.dll.bak4", "a"}, {"b.dll.BAK3", "b"}, {"c.BAK1.BAK4", "c"}});
    WriteBytes(Log(4), cad + "a.dll.bak4\r\n" + cad + "b.dll.BAK3\r\n\r\n" + cad + "c.BAK1.BAK4\nnot a backup\r\n" + cad +
                           "missing.BAK4\r\n" + cad + std::string(300, 'x') + ".BAK4\r\n");
    dlg.m_nLogCount = 4;
    const Files before = Tree();
    CMessageBoxRecorder boxes;
    EXPECT_TRUE(dlg.ReadRollbackLog(FALSE));
    EXPECT_EQ(dlg.m_files, (Texts{cad + "a.dll", cad + "c.BAK1"}));
    EXPECT_FALSE(dlg.Restore());
    dlg.m_nLogCount = 0;  // without a generation the log of none is missing
    EXPECT_FALSE(dlg.Restore());
    const char caption[] = "CZynUpdateDlg::ReadRollbackLog";
    EXPECT_EQ(Shown(boxes),
              (Texts{Box(caption, MB_OK, "復元ﾛｸﾞに記載されたﾌｧｲﾙ[" + cad + "missing.BAK4]がありません\n復元を中断します"),
                     Box(caption, MB_OK, "復元ﾛｸﾞﾌｧｲﾙ[" + Log(0) + "]をｵｰﾌﾟﾝできませんでした")}));
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(Exists(Log(4)));
}

TEST_F(BackupTest, AnExtractionWithAnErrorOrNoFileFailsEvenWithFilesWritten) {
    for (const auto& [archive, written] : std::map<std::string, const char*>{
             {"damaged.zip", "good.txt"}, {"slip.zip", "ok.txt"}, {"truncated.zip", nullptr}, {"empty.zip", nullptr}}) {
        dlg.m_files = {"previous list"};
        dlg.m_strUpdateFile = BuildFolder() + "archives\\" + archive;
        CMessageBoxRecorder boxes;
        EXPECT_EQ(dlg.Extract(), 0) << archive;
        EXPECT_EQ(Shown(boxes), Texts{Box("CZynUpdateDlg::Extract", MB_OK, "展開された更新ﾌｧｲﾙを取得できませんでした")});
        EXPECT_EQ(dlg.m_files, Texts{"previous list"});
        EXPECT_TRUE(!written || Exists(dlg.m_strWorkDir + written)) << archive;
    }
}

TEST(UnzipPrint, ShowsOnlyTheFileNameOnTheProgressDialog) {
    CProgressDlg progress;
    CProgressWatch watch;
    auto print = [](std::string text) { return CZynUpdateDlg::OnUnzipPrint(&text[0], static_cast<unsigned long>(text.size())); };
    g_pProgressDlg = progress.Create(nullptr) ? &progress : nullptr;
    // Info-ZIP's own lines: either slash, padding, a line end on its own; all bytes are taken.
    EXPECT_EQ(print("  inflating: D:\\work\\CAD\\sub\\a.dll"), 34);
    EXPECT_EQ(print("  inflating: C:/Temp/CAD/表示/表.txt   "), 39);
    EXPECT_EQ(print("\n"), 1);
    g_pProgressDlg = nullptr;
    EXPECT_EQ(watch.messages, (Texts{"a.dll", "表.txt"}));
}

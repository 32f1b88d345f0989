#include "backup_fixture.h"

namespace {
const char kReaderCaption[] = "CZynUpdateDlg::ReadRollbackLog";
// "表" in code page 932: its trail byte is the backslash byte.
const std::string kHyou = "\x95\x5C";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The installed files alone: without the safety copies that restores leave beside them.
std::map<std::string, std::string> WithoutSafetyCopies(std::map<std::string, std::string> tree) {
    for (auto file = tree.begin(); file != tree.end();)
        file = EndsWith(file->first, ".ORG") ? tree.erase(file) : std::next(file);
    return tree;
}
}  // namespace

using GenerationTest = BackupTest;
using RestoreTest = BackupTest;
using DeleteBackupsTest = BackupTest;

TEST_F(GenerationTest, OnlyAnUnbrokenRunOfLogsCounts) {
    CMessageBoxRecorder boxes;
    dlg.CountRollbackLogs();
    EXPECT_EQ(dlg.m_nLogCount, 0);
    EXPECT_FALSE(dlg.ShowRestoreCount());

    for (int n : {1, 2, 4})
        WriteBytes(Log(n), "");
    dlg.CountRollbackLogs();
    EXPECT_EQ(dlg.m_nLogCount, 2);
    EXPECT_TRUE(dlg.ShowRestoreCount());
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"現在復元対象のﾌｧｲﾙはありません", "2回の復元が可能です"}));
    EXPECT_EQ(boxes.Shown()[1].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));

    ::DeleteFileA(Log(1).c_str());
    dlg.CountRollbackLogs();
    EXPECT_EQ(dlg.m_nLogCount, 0);
}

TEST_F(RestoreTest, TwoUpdatesThenTwoRestoresGiveBackTheFirstTreeByteForByte) {
    const std::string d = "CAD\\" + kHyou + "\\d.txt";
    Install("CAD\\bin\\a.dll", std::string("a0\0\r\n", 5));
    Install("CAD\\bin\\b.dll", "b0");
    Install("CAD\\data\\c.txt", "c0");
    Install(d, "d0");
    const auto first = Tree();

    Extract("CAD\\bin\\a.dll", "a1");
    Extract("CAD\\bin\\b.dll", "b0");
    Extract("CAD\\data\\c.txt", "c1");
    Extract(d, "d1");
    ASSERT_TRUE(Update());
    const auto second = Tree();

    NewUpdate();
    Extract("CAD\\bin\\a.dll", "a2");
    Extract("CAD\\bin\\b.dll", "b2");
    Extract(d, "d1");
    ASSERT_TRUE(Update());
    EXPECT_EQ(dlg.m_nLogCount, 2);
    EXPECT_EQ(ReadBytes(Installed(d + ".BAK1")), "d0");

    CMessageBoxRecorder boxes;
    EXPECT_TRUE(dlg.Restore());
    EXPECT_EQ(dlg.m_nLogCount, 1);
    EXPECT_FALSE(Exists(Log(2)));
    auto tree = Tree();
    EXPECT_EQ(tree["CAD\\bin\\a.dll.ORG"], "a2");  // the state just before
    for (auto& file : tree)
        EXPECT_FALSE(EndsWith(file.first, ".BAK2")) << file.first;
    EXPECT_EQ(WithoutSafetyCopies(tree), second);

    EXPECT_TRUE(dlg.Restore());
    EXPECT_EQ(dlg.m_nLogCount, 0);
    EXPECT_FALSE(Exists(Log(1)));
    EXPECT_EQ(WithoutSafetyCopies(Tree()), first);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(RestoreTest, AFileDeletedMeanwhileIsPutBackIntoANewFolder) {
    Install("CAD\\sub\\x.dll", "old");
    Extract("CAD\\sub\\x.dll", "new");
    ASSERT_TRUE(Update());
    std::string backup = ReadBytes(Installed("CAD\\sub\\x.dll.BAK1"));
    RemoveTree(Installed("CAD\\sub"));
    Put(Installed("CAD\\sub\\x.dll.BAK1"), backup);
    ::DeleteFileA(Installed("CAD\\sub\\x.dll").c_str());

    EXPECT_TRUE(dlg.Restore());

    EXPECT_EQ(ReadBytes(Installed("CAD\\sub\\x.dll")), "old");
    EXPECT_FALSE(Exists(Installed("CAD\\sub\\x.dll.ORG")));
    EXPECT_FALSE(Exists(Installed("CAD\\sub\\x.dll.BAK1")));
}

TEST_F(RestoreTest, OnlyLinesOfTheGenerationAreRead) {
    Install("CAD\\a.dll.bak4", "a");
    Install("CAD\\b.dll.BAK3", "b");
    Install("CAD\\c.BAK1.BAK4", "c");
    const std::string longLine = Installed("CAD\\") + std::string(300, 'x') + ".BAK4";
    WriteBytes(Log(4), Installed("CAD\\a.dll.bak4\r\n") + Installed("CAD\\b.dll.BAK3\r\n") + "\r\n" +
                           Installed("CAD\\c.BAK1.BAK4\r\n") + "not a backup\r\n" +
                           Installed("CAD\\missing.dll.BAK4\r\n") + longLine + "\r\n");
    dlg.m_nLogCount = 4;
    CMessageBoxRecorder boxes;

    EXPECT_TRUE(dlg.ReadRollbackLog(FALSE));

    EXPECT_EQ(dlg.m_files, (std::vector<std::string>{Installed("CAD\\a.dll"), Installed("CAD\\c.BAK1")}));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(RestoreTest, AMissingBackupStopsTheRestoreBeforeAnythingChanges) {
    Install("CAD\\a.dll", "current a");
    Install("CAD\\a.dll.BAK1", "old a");
    Install("CAD\\b.dll", "current b");
    WriteBytes(Log(1), Installed("CAD\\a.dll.BAK1\n") + Installed("CAD\\b.dll.BAK1\n"));
    dlg.m_nLogCount = 1;
    const auto before = Tree();
    CMessageBoxRecorder boxes;

    EXPECT_FALSE(dlg.Restore());

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "復元ﾛｸﾞに記載されたﾌｧｲﾙ[" + Installed("CAD\\b.dll.BAK1") + "]がありません\n復元を中断します");
    EXPECT_EQ(boxes.Shown()[0].caption, kReaderCaption);
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(Exists(Log(1)));
    EXPECT_EQ(dlg.m_nLogCount, 1);

    // Without a generation the log of none is missing.
    boxes.Clear();
    dlg.m_nLogCount = 0;
    EXPECT_FALSE(dlg.Restore());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"復元ﾛｸﾞﾌｧｲﾙ[" + Log(0) + "]をｵｰﾌﾟﾝできませんでした"});
    EXPECT_EQ(dlg.m_nLogCount, 0);
}

TEST_F(DeleteBackupsTest, AllGenerationsGoNewestFirstAndSafetyCopiesStay) {
    for (int g = 1; g <= 3; ++g) {
        std::string lines;
        for (const char* name : {"a.dll", "b.dll"}) {
            std::string bak = Installed("CAD\\") + name + ".BAK" + std::to_string(g);
            Put(bak, "backup");
            lines += bak + "\n";
        }
        WriteBytes(Log(g), lines);
    }
    ::DeleteFileA(Installed("CAD\\a.dll.BAK2").c_str());  // deleted by hand: skipped silently
    Install("CAD\\a.dll", "installed");
    Install("CAD\\a.dll.ORG", "safety copy");
    dlg.m_nLogCount = 3;
    CMessageBoxRecorder boxes;
    CProgressWatch progress;

    EXPECT_TRUE(dlg.DeleteAllBackups(TRUE));

    EXPECT_EQ(dlg.m_nLogCount, 0);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(progress.Caption(), "退避ﾌｧｲﾙを削除中");
    auto deleting = [&](const std::string& name) { return "退避ﾌｧｲﾙ[" + Installed("CAD\\" + name) + "]を削除中"; };
    EXPECT_EQ(progress.messages,
              (std::vector<std::string>{deleting("a.dll.BAK3"), deleting("b.dll.BAK3"), deleting("b.dll.BAK2"),
                                        deleting("a.dll.BAK1"), deleting("b.dll.BAK1")}));
    for (int g = 1; g <= 3; ++g)
        EXPECT_FALSE(Exists(Log(g))) << g;
    EXPECT_EQ(Tree(), (std::map<std::string, std::string>{{"CAD\\a.dll", "installed"}, {"CAD\\a.dll.ORG", "safety copy"}}));
}

TEST_F(DeleteBackupsTest, ACountAboveTheLogsOnDiskReportsTheMissingLogOnce) {
    for (int g = 1; g <= 2; ++g) {
        std::string bak = Installed("CAD\\a.dll.BAK") + std::to_string(g);
        Put(bak, "backup");
        WriteBytes(Log(g), bak + "\n");
    }
    dlg.m_nLogCount = 3;
    CMessageBoxRecorder boxes;

    EXPECT_TRUE(dlg.DeleteAllBackups(FALSE));

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "復元ﾛｸﾞﾌｧｲﾙ[" + Log(3) + "]をｵｰﾌﾟﾝできませんでした");
    EXPECT_EQ(boxes.Shown()[0].caption, kReaderCaption);
    EXPECT_EQ(dlg.m_nLogCount, 0);
    EXPECT_FALSE(Exists(Log(1)) || Exists(Log(2)));
    EXPECT_TRUE(Tree().empty());
}

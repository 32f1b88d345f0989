#include "backup_fixture.h"

#include "Handle.h"

namespace {
const char kReplaceCaption[] = "CZynUpdateDlg::Replace";

// Holds a file open as another program would: reading shared, writing refused.
CFileHandle HoldOpen(const std::string& path, DWORD share) {
    return CFileHandle(::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}
}  // namespace

using ReplaceTest = BackupTest;

TEST_F(ReplaceTest, UpdateCopiesNewSkipsIdenticalAndBacksUpChangedFiles) {
    Install("CAD\\bin\\same.dll", "same");
    Install("CAD\\empty.txt", "");
    Install("CAD\\bin\\changed.dll", "old");
    Extract("CAD\\new\\sub\\added.dll", "added");
    Extract("CAD\\bin\\same.dll", "same");
    Extract("CAD\\empty.txt", "");
    Extract("CAD\\bin\\changed.dll", "new");
    dlg.m_nLogCount = 3;
    CMessageBoxRecorder boxes;
    CProgressWatch progress;

    EXPECT_TRUE(Update());

    EXPECT_EQ(dlg.m_nLogCount, 4);
    EXPECT_EQ(ReadBytes(Installed("CAD\\new\\sub\\added.dll")), "added");  // folder made for it
    EXPECT_EQ(ReadBytes(Installed("CAD\\bin\\changed.dll")), "new");
    EXPECT_EQ(ReadBytes(Installed("CAD\\bin\\changed.dll.BAK4")), "old");
    EXPECT_FALSE(Exists(Installed("CAD\\new\\sub\\added.dll.BAK4")));
    EXPECT_FALSE(Exists(Installed("CAD\\bin\\same.dll.BAK4")));
    EXPECT_FALSE(Exists(Installed("CAD\\empty.txt.BAK4")));
    // One line per backup, written in text mode.
    EXPECT_EQ(ReadBytes(Log(4)), Installed("CAD\\bin\\changed.dll.BAK4") + "\r\n");
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(progress.Caption(), "更新中");
    // Identical files are not copied at all.
    EXPECT_EQ(progress.messages, (std::vector<std::string>{Installed("CAD\\new\\sub\\added.dll") + "を更新中",
                                                           Installed("CAD\\bin\\changed.dll") + "を更新中"}));
}

TEST_F(ReplaceTest, UpdateThatSavesNothingLeavesNoGeneration) {
    Install("CAD\\same.dll", "same");
    Extract("CAD\\same.dll", "same");
    Extract("CAD\\added.dll", "added");
    EXPECT_TRUE(Update());
    EXPECT_EQ(ReadBytes(Installed("CAD\\added.dll")), "added");
    EXPECT_FALSE(Exists(Log(1)));

    NewUpdate();  // nothing at all to do
    dlg.m_nLogCount = 0;
    EXPECT_TRUE(Update());
    EXPECT_FALSE(Exists(Log(1)));
}

TEST_F(ReplaceTest, EachLogLineIsOnDiskBeforeItsFileIsReplaced) {
    for (const char* name : {"a", "b", "c"}) {
        Install(std::string("CAD\\") + name, "old");
        Extract(std::string("CAD\\") + name, "new");
    }
    CProgressWatch progress;
    std::vector<std::string> logWhileCopying;
    progress.OnMessage([&](const std::string&) { logWhileCopying.push_back(ReadBytes(Log(1))); });

    EXPECT_TRUE(Update());

    std::string a = Installed("CAD\\a.BAK1\r\n"), b = Installed("CAD\\b.BAK1\r\n"), c = Installed("CAD\\c.BAK1\r\n");
    EXPECT_EQ(logWhileCopying, (std::vector<std::string>{a, a + b, a + b + c}));
}

// Cancel before the first entry and in the middle: what was copied is put back newest first,
// new files are never left behind, and no backup or log remains.
TEST_F(ReplaceTest, CancelPutsBackNewestFirstAndLeavesNoGeneration) {
    const std::vector<std::string> names{"1.dll", "2.dll", "3.dll", "4.dll", "5.dll"};
    for (const std::string& name : names) {
        Install("CAD\\" + name, "old " + name);
        Extract("CAD\\" + name, "new " + name);
    }
    Extract("CAD\\added.dll", "added");
    for (int copied : {0, 3}) {  // at 3 the click lands while the third entry is being copied
        SCOPED_TRACE(copied);
        CMessageBoxRecorder boxes;
        CProgressWatch progress;
        progress.CancelAtPosition(copied);

        EXPECT_FALSE(Update());

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "ﾌｧｲﾙの更新を中断しました");
        EXPECT_EQ(boxes.Shown()[0].caption, "replace_test");
        EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
        std::vector<std::string> expected;
        for (int i = 0; i < copied; ++i)
            expected.push_back(Installed("CAD\\" + names[i]) + "を更新中");
        for (int i = copied - 1; i >= 0; --i) {
            std::string dst = Installed("CAD\\" + names[i]);
            expected.push_back("退避ﾌｧｲﾙ[" + dst + ".BAK1]から元ﾌｧｲﾙ[" + dst + "]に復元中");
        }
        EXPECT_EQ(progress.messages, expected);
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(ReadBytes(Installed("CAD\\" + names[i])), "old " + names[i]);
            if (static_cast<int>(i) >= copied) {  // never reached: never saved
                EXPECT_FALSE(Exists(Installed("CAD\\" + names[i] + ".BAK1"))) << names[i];
            }
        }
        EXPECT_FALSE(Exists(Installed("CAD\\added.dll")));
        EXPECT_FALSE(Exists(Log(1)));
        EXPECT_EQ(dlg.m_nLogCount, 0);
    }
}

// Backups and safety copies that an earlier run left behind are no backups of this
// call: the undo puts back what this call saved, the failed entry included, and nothing else.
TEST_F(ReplaceTest, ACopyOntoALockedFileFailsAndOnlyTheFilesSavedArePutBack) {
    Install("CAD\\a.dll", "old a");
    Install("CAD\\same.dll", "same");
    Install("CAD\\same.dll.BAK1", "stale same");
    Install("CAD\\added.dll.BAK1", "stale added");
    Install("CAD\\locked.dll", "old locked");
    Install("CAD\\c.dll", "old c");
    Extract("CAD\\a.dll", "new a");
    Extract("CAD\\same.dll", "same");
    Extract("CAD\\added.dll", "added");
    Extract("CAD\\locked.dll", "new locked");
    Extract("CAD\\c.dll", "new c");
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    {
        CFileHandle holder = HoldOpen(Installed("CAD\\locked.dll"), FILE_SHARE_READ);
        ASSERT_TRUE(holder);
        EXPECT_FALSE(Update());
    }
    std::string a = Installed("CAD\\a.dll"), locked = Installed("CAD\\locked.dll");
    EXPECT_EQ(progress.messages,
              (std::vector<std::string>{a + "を更新中", Installed("CAD\\added.dll") + "を更新中", locked + "を更新中",
                                        "退避ﾌｧｲﾙ[" + locked + ".BAK1]から元ﾌｧｲﾙ[" + locked + "]に復元中",
                                        "退避ﾌｧｲﾙ[" + a + ".BAK1]から元ﾌｧｲﾙ[" + a + "]に復元中"}));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "ﾌｧｲﾙ[" + dlg.m_strWorkDir + "CAD\\locked.dll]を[" + locked + "]に更新できませんでした");
    EXPECT_EQ(boxes.Shown()[0].caption, kReplaceCaption);
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(ReadBytes(a), "old a");
    EXPECT_EQ(ReadBytes(Installed("CAD\\same.dll")), "same");
    EXPECT_EQ(ReadBytes(Installed("CAD\\added.dll")), "added");  // an added file is not removed
    EXPECT_EQ(ReadBytes(locked), "old locked");
    EXPECT_EQ(ReadBytes(Installed("CAD\\c.dll")), "old c");
    EXPECT_FALSE(Exists(Log(1)));
}

// A copy that fails part-way (a full disk, say) leaves its target damaged; that
// target was saved first and is put back from its backup.
TEST_F(ReplaceTest, ATargetDamagedByAFailedCopyIsPutBack) {
    Install("CAD\\a.dll", "old a");
    Install("CAD\\b.dll", "old b");
    Extract("CAD\\a.dll", "new a");
    Extract("CAD\\b.dll", "new b");
    const std::string b = Installed("CAD\\b.dll");
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    CFileHandle writer;
    progress.OnMessage([&](const std::string& message) {
        if (message == b + "を更新中") {
            // Just before the copy: the file is cut short and held so that the copy fails.
            writer.reset(::CreateFileA(b.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       TRUNCATE_EXISTING, 0, nullptr));
            DWORD written = 0;
            ::WriteFile(writer.get(), "ol", 2, &written, nullptr);
        } else if (message.find("退避ﾌｧｲﾙ[" + b) == 0) {
            writer.reset();  // the writer has gone when the undo comes
        }
    });

    EXPECT_FALSE(Update());

    EXPECT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(ReadBytes(b), "old b");
    EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll")), "old a");
}

TEST_F(ReplaceTest, AFileThatCannotBeReadIsReportedAndEndsTheCallWhenItCannotBeSaved) {
    Install("CAD\\a.dll", "old a");
    Install("CAD\\held.dll", "old held");
    Extract("CAD\\a.dll", "new a");
    Extract("CAD\\held.dll", "new held");
    CMessageBoxRecorder boxes;
    {
        CFileHandle holder = HoldOpen(Installed("CAD\\held.dll"), 0);
        ASSERT_TRUE(holder);
        EXPECT_FALSE(Update());
    }
    std::string src = dlg.m_strWorkDir + "CAD\\held.dll", dst = Installed("CAD\\held.dll");
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"ﾌｧｲﾙ[" + src + "]と[" + dst + "]の比較に失敗しました",
                                                       "ﾌｧｲﾙ[" + dst + "]を[" + dst + ".BAK1]に退避できませんでした"}));
    EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll")), "old a");
    EXPECT_EQ(ReadBytes(dst), "old held");
    EXPECT_FALSE(Exists(Log(1)));
}

TEST_F(ReplaceTest, RestoreUndoNeverCopiesAStaleSafetyCopy) {
    // Generation 1 lists two files; the first was deleted meanwhile and has an old
    // safety copy from an earlier restore; the second cannot be written.
    Install("CAD\\gone.dll.BAK1", "backup gone");
    Install("CAD\\gone.dll.ORG", "stale safety copy");
    Install("CAD\\locked.dll", "current locked");
    Install("CAD\\locked.dll.BAK1", "backup locked");
    dlg.m_files = {Installed("CAD\\gone.dll"), Installed("CAD\\locked.dll")};
    dlg.m_nLogCount = 1;
    WriteBytes(Log(1), "");
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
    {
        CFileHandle holder = HoldOpen(Installed("CAD\\locked.dll"), FILE_SHARE_READ);
        EXPECT_FALSE(dlg.Replace(TRUE));
    }
    EXPECT_EQ(progress.Caption(), "復元中");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ﾌｧｲﾙ[" + Installed("CAD\\locked.dll.BAK1") + "]を[" +
                                                      Installed("CAD\\locked.dll") + "]に復元できませんでした"});
    EXPECT_EQ(ReadBytes(Installed("CAD\\gone.dll")), "backup gone");
    EXPECT_EQ(ReadBytes(Installed("CAD\\locked.dll")), "current locked");
    EXPECT_EQ(ReadBytes(Installed("CAD\\locked.dll.ORG")), "current locked");
    EXPECT_TRUE(Exists(Log(1)));  // a failed restore keeps its generation
}

// A failure finds nothing of its own to put back, and leaves stale backups alone.
TEST_F(ReplaceTest, SimpleModesReplaceWithoutBackups) {
    CMessageBoxRecorder boxes;
    for (int mode : {1, 2, 3}) {
        NewUpdate();
        dlg.m_pApp->m_nMode = mode;
        Install("CAD\\a.dll", "old");
        Install("CAD\\a.dll.BAK1", "stale");
        Install("CAD\\locked.dll", "old locked");
        Extract("CAD\\a.dll", "new");
        Extract("CAD\\locked.dll", "old locked");
        dlg.m_nLogCount = 0;
        EXPECT_TRUE(Update());
        EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll")), "new");
        EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll.BAK1")), "stale");
        EXPECT_FALSE(Exists(Log(1)));

        Install("CAD\\a.dll", "old");
        Extract("CAD\\locked.dll", "new locked");
        CFileHandle holder = HoldOpen(Installed("CAD\\locked.dll"), FILE_SHARE_READ);
        EXPECT_FALSE(Update());
        EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll")), "new");
        EXPECT_EQ(ReadBytes(Installed("CAD\\locked.dll")), "old locked");
    }
}

TEST_F(ReplaceTest, ALogThatCannotBeCreatedStopsBeforeAnything) {
    AfxGetApp()->SetHelpFilePath(root + "Missing\\ZynUpdate.chm");
    Install("CAD\\a.dll", "old");
    Extract("CAD\\a.dll", "new");
    CMessageBoxRecorder boxes;
    CProgressWatch progress;

    EXPECT_FALSE(Update());

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "復元ﾛｸﾞﾌｧｲﾙ[" + root + "Missing\\ZynUpdate.LOG1]をｵｰﾌﾟﾝできませんでした");
    EXPECT_EQ(boxes.Shown()[0].caption, kReplaceCaption);
    EXPECT_TRUE(progress.captions.empty());
    EXPECT_EQ(ReadBytes(Installed("CAD\\a.dll")), "old");
}

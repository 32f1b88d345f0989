// The update sequence on a real self-extracting update (from tests/make_archives.py)
// that lies in the temporary folder from an earlier run, extracted by our unzip32.dll.
#include "backup_fixture.h"

#include "Handle.h"

namespace {
const char kPieceNumberQuestion[] =
    "合番固定している工事で最新の状態に更新すると\n合番が変更される可能性があります。\n続行してもよろしいですか？";

std::string Archives() { return BuildFolder() + "archives\\"; }

class UpdateSequenceTest : public BackupTest {
protected:
    void SetUp() override {
        BackupTest::SetUp();
        ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));
        dlg.m_strUpdateFile = root + "UPD350_12.EXE";
        ASSERT_TRUE(::CopyFileA((Archives() + "update_sfx.exe").c_str(), dlg.m_strUpdateFile.c_str(), FALSE));
    }
    void TearDown() override {
        ::SetDllDirectoryA(nullptr);
        BackupTest::TearDown();
    }
    // The update's files as they must be installed (relative name -> bytes).
    static std::map<std::string, std::string> UpdateFiles() {
        const std::string expected = Archives() + "expected\\";
        CFindDataList found;
        RixFindFiles(expected, "*", found, TRUE);
        std::map<std::string, std::string> files;
        for (const WIN32_FIND_DATAA& file : found)
            files[std::string(file.cFileName).substr(expected.size())] = ReadBytes(file.cFileName);
        return files;
    }
};
}  // namespace

TEST_F(UpdateSequenceTest, DecliningThePieceNumberQuestionChangesNothing) {
    dlg.m_strUpdateFile = root + "UPD350.EXE";
    WriteBytes(dlg.m_strUpdateFile, "update");
    dlg.m_nLogCount = 2;
    CMessageBoxRecorder boxes;  // the default answer of the question is No

    EXPECT_FALSE(dlg.ExecUpdate());

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, kPieceNumberQuestion);
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
    EXPECT_EQ(dlg.m_nLogCount, 2);
}

TEST_F(UpdateSequenceTest, SimpleModesAskOnlyWhetherToFetchAnExistingFileAgain) {
    dlg.m_pApp->m_nMode = 2;
    dlg.m_strUpdateFile = root + "UPD350.EXE";
    WriteBytes(dlg.m_strUpdateFile, "update");
    CMessageBoxRecorder boxes;

    EXPECT_FALSE(dlg.ExecUpdate());  // the file holds nothing to extract

    ASSERT_GE(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "既に更新ﾌｧｲﾙ[" + dlg.m_strUpdateFile + "]が存在しています\n再度ﾀﾞｳﾝﾛｰﾄﾞしますか？");
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2));
    EXPECT_EQ(ReadBytes(dlg.m_strUpdateFile), "update");  // answered No: not fetched again
    EXPECT_EQ(dlg.m_nLogCount, 0);
}

TEST_F(UpdateSequenceTest, AnUpdateFileFromBeforeIsExtractedAndInstalledAsTheNextGeneration) {
    const auto update = UpdateFiles();
    Install("CAD\\Ver3.5", "Ver3.5 (No.11)\r\n");
    Install("CAD\\stored.bin", update.at("CAD\\stored.bin"));
    dlg.m_nLogCount = 1;
    CMessageBoxRecorder boxes;
    boxes.Answer(IDYES);  // continue despite the piece numbers
    boxes.Answer(IDNO);   // no new download

    EXPECT_TRUE(dlg.ExecUpdate());

    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kPieceNumberQuestion, "既に更新ﾌｧｲﾙ[" + dlg.m_strUpdateFile +
                                                                              "]が存在しています\n再度ﾀﾞｳﾝﾛｰﾄﾞしますか？"}));
    EXPECT_EQ(dlg.m_nLogCount, 2);
    EXPECT_EQ(ReadBytes(Log(2)), Installed("CAD\\Ver3.5.BAK2\r\n"));
    auto tree = Tree();
    EXPECT_EQ(tree["CAD\\Ver3.5.BAK2"], "Ver3.5 (No.11)\r\n");
    tree.erase("CAD\\Ver3.5.BAK2");
    EXPECT_EQ(tree, update);
}

TEST_F(UpdateSequenceTest, AFailedReplacementLeavesTheCountAsItWas) {
    AfxGetApp()->SetHelpFilePath(root + "Missing\\ZynUpdate.chm");
    Install("CAD\\Ver3.5", "Ver3.5 (No.11)\r\n");
    dlg.m_nLogCount = 1;
    CMessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);

    EXPECT_FALSE(dlg.ExecUpdate());

    EXPECT_EQ(boxes.Texts().back(), "復元ﾛｸﾞﾌｧｲﾙ[" + root + "Missing\\ZynUpdate.LOG2]をｵｰﾌﾟﾝできませんでした");
    EXPECT_EQ(dlg.m_nLogCount, 1);
    EXPECT_EQ(ReadBytes(Installed("CAD\\Ver3.5")), "Ver3.5 (No.11)\r\n");
}

TEST_F(UpdateSequenceTest, AFileInUseThatStaysOpenStopsTheUpdateBeforeAnythingChanges) {
    Install("CAD\\Ver3.5", "Ver3.5 (No.11)\r\n");
    Install("CAD\\sub\\a.dll", "in use");
    dlg.m_nLogCount = 1;
    CMessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);
    {
        CFileHandle holder(::CreateFileA(Installed("CAD\\sub\\a.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(dlg.ExecUpdate());  // the in-use question gets Cancel
    }
    EXPECT_EQ(boxes.Shown().back().type & MB_TYPEMASK, static_cast<UINT>(MB_RETRYCANCEL));
    EXPECT_EQ(dlg.m_nLogCount, 1);
    EXPECT_EQ(Tree(), (std::map<std::string, std::string>{{"CAD\\Ver3.5", "Ver3.5 (No.11)\r\n"},
                                                          {"CAD\\sub\\a.dll", "in use"}}));
    EXPECT_FALSE(Exists(Log(2)));
}

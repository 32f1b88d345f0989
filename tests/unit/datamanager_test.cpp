#include <gtest/gtest.h>

#include "TestSupport.h"
#include "WinApp.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
// The record the stand-in leaves beside itself, once it has appeared (the start does not wait).
std::string AwaitRecord(const std::string& folder) {
    const std::string record = folder + "ZynImpDataManager.args";
    for (int i = 0; i < 100 && !Exists(record); ++i)
        ::Sleep(50);
    return ReadBytes(record);
}

bool PlaceStandIn(const std::string& folder) {
    return ::CopyFileA((BuildFolder() + "tools\\ZynImpDataManager.exe").c_str(),
                       (folder + "ZynImpDataManager.exe").c_str(), FALSE) != FALSE;
}

// Runs a test with the CAD folder of its choice and puts the run state back afterwards.
class StartDataManagerTest : public testing::Test {
protected:
    StartDataManagerTest() : m_app(static_cast<CZynUpdateApp*>(AfxGetApp())), m_savedHome(m_app->m_strHome) {}
    ~StartDataManagerTest() override { m_app->m_strHome = m_savedHome; }
    CZynUpdateApp* m_app;

private:
    std::string m_savedHome;
};
}  // namespace

TEST_F(StartDataManagerTest, StartsTheProgramInTheCadFolderWithItsArguments) {
    const std::string folder = ScratchFolder("datamanager_home");
    ASSERT_TRUE(PlaceStandIn(folder));
    m_app->m_strHome = folder.substr(0, folder.size() - 1);
    CMessageBoxRecorder boxes;
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_SIMPLE, nullptr);
    EXPECT_TRUE(dlg.StartDataManager());
    EXPECT_EQ(AwaitRecord(folder), folder + "ZynImpDataManager.exe -NAME dovi");
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(StartDataManagerTest, WithoutCadFolderTheBareNameIsStarted) {
    const std::string folder = ScratchFolder("datamanager_bare");
    ASSERT_TRUE(PlaceStandIn(folder));
    char previous[MAX_PATH];
    ASSERT_NE(::GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));  // where the bare name is found
    m_app->m_strHome.clear();
    CMessageBoxRecorder boxes;
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_SIMPLE, nullptr);
    EXPECT_TRUE(dlg.StartDataManager());
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(AwaitRecord(folder), "ZynImpDataManager.exe -NAME dovi");
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(StartDataManagerTest, MissingProgramIsReportedOnce) {
    m_app->m_strHome = ScratchFolder("datamanager_missing");
    CMessageBoxRecorder boxes;
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_SIMPLE, nullptr);
    EXPECT_FALSE(dlg.StartDataManager());
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "ホルビアの起動に失敗しました。");
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

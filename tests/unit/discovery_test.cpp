#include <gtest/gtest.h>

#include <regex>

#include "../server/UpdateServer.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "VersionText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
CZynUpdateApp& App() { return *static_cast<CZynUpdateApp*>(AfxGetApp()); }

std::string IniPath() {
    std::string path;
    RixGetModulePath(path, TRUE);
    return RixSetPathParts(path, nullptr, nullptr, nullptr, ".ini");
}

// Every test starts in mode 0 with no -HOME, no ZYN_HOME and no settings file, and
// leaves it so.
class Discovery : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(TestServer().port, 0) << "the update server is not running: run this through ctest";
        Restore();
        m_cad = ScratchFolder("cad");
        App().m_strHome = m_cad;
    }
    void TearDown() override { Restore(); }

    static void Restore() {
        App().m_nMode = 0;
        App().m_strHome.clear();
        ::SetEnvironmentVariableA("ZYN_HOME", nullptr);
        ::DeleteFileA(IniPath().c_str());
    }

    static void WriteIni(const std::string& lines) { ASSERT_TRUE(WriteBytes(IniPath(), "[Setting]\r\n" + lines)); }

    std::string m_cad;
    CZynUpdateDlg m_dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
    CMessageBoxRecorder m_boxes;
};

const UINT kInformation = MB_OK | MB_ICONINFORMATION;
}  // namespace

TEST(VersionText, KeysOrderVersionsAndCodesDropTheLetter) {
    const struct {
        const char* text;
        int key, code;
    } cases[] = {{"3.5", 35000, 350},   {"3.50", 35000, 350},     {"3.5a", 35001, 350},
                 {"3.5z", 35026, 350},  {"3", 30000, 300},        {"10.25", 102500, 1025},
                 {"3.12345", 312345, 0},  // four places or more: no zeros appended
                 {"3.5.1", 3510, 0},  // places count from the first "."
                 {"99999999999", INT_MAX, 0},
                 {"3.5ア", 35, 0}};  // ア is 0x83 0x41 in code page 932: its trail byte is no letter
    for (const auto& c : cases) {
        EXPECT_EQ(VersionKey(c.text), c.key) << c.text;
        if (c.code) {
            EXPECT_EQ(VersionCode(VersionKey(c.text)), c.code) << c.text;
        }
    }
    EXPECT_EQ(VerFileVersionText("Ver3.5A"), "3.5a");
    EXPECT_EQ(VerFileVersionText("Ver3.5ア"), "3.5ア");  // the trail byte 0x41 is no capital A
}

TEST(VersionText, RevisionIsTheNumberAfterTheLastNoMarker) {
    const std::pair<const char*, int> cases[] = {{"ravaZAZ Ver3.5 (No.3)\r\n(No.12) fixes\r\n", 12},
                                                 {"(No.3) and later No.7 without a bracket", 0},
                                                 {"no marker at all", 0},
                                                 {"no.5) is another case", 0},
                                                 {"No.  15)", 15},
                                                 {"No.12a)", 12},
                                                 {"No.)", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseRevision(c.first), c.second) << c.first;
}

TEST_F(Discovery, BackupCopiesAreNoCandidates) {
    WriteBytes(m_cad + "Ver3.5", std::string("ravaZAZ (No.4)\0(No.9)", 21));  // no text after a zero byte
    WriteBytes(m_cad + "Ver3.9.bak", "(No.9)");
    WriteBytes(m_cad + "Ver4.0.BAK2", "(No.9)");
    WriteBytes(m_cad + "Ver4.1.org", "(No.9)");
    ASSERT_TRUE(::CreateDirectoryA((m_cad + "Ver9.9").c_str(), nullptr));  // folders are never taken
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    EXPECT_TRUE(m_boxes.Shown().empty());
    EXPECT_EQ(m_dlg.m_nVersion, 350);
    EXPECT_EQ(m_dlg.m_nRevision, 4);
    EXPECT_EQ(m_dlg.m_strVerFile, "Ver3.5");
    EXPECT_EQ(m_dlg.m_strCadDir, "D:\\");
    EXPECT_TRUE(Exists(m_cad + "Ver3.9.bak"));
}

TEST_F(Discovery, TheHighestVersionWinsAndTheOthersGoAfterOk) {
    WriteBytes(m_cad + "Ver3.5", "(No.1)");
    WriteBytes(m_cad + "VER3.6", "(No.2)");
    WriteBytes(m_cad + "Ver3.5a", "(No.3)");
    WriteBytes(m_cad + "Ver3.6.bak", "(No.9)");
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    ASSERT_EQ(m_boxes.Shown().size(), 1u);
    EXPECT_EQ(m_boxes.Shown()[0].text,
              "Verﾌｧｲﾙが[" + m_cad + "VER3.6]以外に複数存在します。\n古いVerﾌｧｲﾙを削除します。");
    EXPECT_EQ(m_boxes.Shown()[0].type, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(m_boxes.Shown()[0].caption, App().m_pszAppName);
    EXPECT_EQ(m_dlg.m_strVerFile, "VER3.6");
    EXPECT_EQ(m_dlg.m_nVersion, 360);
    EXPECT_EQ(m_dlg.m_nRevision, 2);
    EXPECT_FALSE(Exists(m_cad + "Ver3.5"));
    EXPECT_FALSE(Exists(m_cad + "Ver3.5a"));
    EXPECT_TRUE(Exists(m_cad + "VER3.6"));
    EXPECT_TRUE(Exists(m_cad + "Ver3.6.bak"));
}

TEST_F(Discovery, CancelOnTheQuestionFailsAndDeletesNothing) {
    WriteBytes(m_cad + "Ver3.5", "(No.1)");
    WriteBytes(m_cad + "Ver3.5a", "(No.3)");
    m_boxes.Answer(IDCANCEL);
    EXPECT_EQ(m_dlg.GetZynInfo(FALSE), 0);
    EXPECT_EQ(m_boxes.Shown().size(), 1u);  // no message of its own after the question
    EXPECT_TRUE(Exists(m_cad + "Ver3.5"));
    EXPECT_TRUE(Exists(m_cad + "Ver3.5a"));
    EXPECT_EQ(m_dlg.m_nRevision, 0);
    EXPECT_EQ(m_dlg.m_strVerFile, "");
}

TEST_F(Discovery, OnEqualKeysTheFirstListedWins) {
    WriteBytes(m_cad + "Ver3.5", "(No.1)");
    WriteBytes(m_cad + "Ver3.50", "(No.2)");
    CFindDataList listing;
    ASSERT_EQ(RixFindFiles(m_cad, "Ver*", listing, FALSE), 2);
    std::string first = listing[0].cFileName;
    std::string second = listing[1].cFileName;
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    EXPECT_EQ(m_cad + m_dlg.m_strVerFile, first);
    EXPECT_EQ(m_dlg.m_nVersion, 350);
    EXPECT_TRUE(Exists(first));
    EXPECT_FALSE(Exists(second));
}

TEST_F(Discovery, FailuresNameTheFolderOrTheFile) {
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 0);
    WriteBytes(m_cad + "Ver3.5.bak", "(No.1)");
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 0);  // only backups: no message of its own
    ASSERT_EQ(m_boxes.Shown().size(), 1u);
    EXPECT_EQ(m_boxes.Shown()[0].text, m_cad + "以下にVer*ﾌｧｲﾙが存在しませんでした");
    EXPECT_EQ(m_boxes.Shown()[0].caption, "CZynUpdateDlg::GetZynInfo");
    EXPECT_EQ(m_boxes.Shown()[0].type, static_cast<UINT>(MB_OK));

    m_boxes.Clear();
    WriteBytes(m_cad + "Ver3.5", "");
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 0);
    ASSERT_EQ(m_boxes.Texts(), std::vector<std::string>{"Verﾌｧｲﾙ[" + m_cad + "Ver3.5]からﾘﾋﾞｼﾞｮﾝを取得できませんでした"});
    EXPECT_EQ(m_boxes.Shown()[0].caption, "CZynUpdateDlg::GetZynInfo");
}

TEST_F(Discovery, CadFolderComesFromHomeThenEnvironmentThenTheProgramsPlace) {
    std::string other = ScratchFolder("cad_env");
    WriteBytes(m_cad + "Ver3.5", "(No.1)");
    WriteBytes(other + "Ver4.0", "(No.2)");
    ::SetEnvironmentVariableA("ZYN_HOME", other.c_str());
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    EXPECT_EQ(m_dlg.m_strVerFile, "Ver3.5");  // -HOME wins over ZYN_HOME

    App().m_strHome.clear();
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    EXPECT_EQ(m_dlg.m_strVerFile, "Ver4.0");

    // Neither: the parent of the program's folder (mode 0), or that folder itself (mode 3).
    ::SetEnvironmentVariableA("ZYN_HOME", nullptr);
    std::string programFolder;
    RixGetModulePath(programFolder, FALSE);
    std::string parent = RixTrailBackslash(programFolder, FALSE);
    RixSetPathParts(parent, nullptr, nullptr, "", "");
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 0);
    App().m_nMode = 3;
    EXPECT_EQ(m_dlg.GetZynInfo(TRUE), 0);
    EXPECT_EQ(m_dlg.m_strCadDir, programFolder);  // mode 3: the folder itself, not its drive
    EXPECT_EQ(m_boxes.Texts(), (std::vector<std::string>{parent + "以下にVer*ﾌｧｲﾙが存在しませんでした",
                                                          programFolder + "以下にVer*ﾌｧｲﾙが存在しませんでした"}));
}

TEST_F(Discovery, StatusLineOnlyInTheFullDialogAndNotQuiet) {
    HWND status = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    m_dlg.m_stcStatus.Attach(status);
    WriteBytes(m_cad + "VER3.5A", "(No.12)");
    ASSERT_EQ(m_dlg.GetZynInfo(TRUE), 1);
    EXPECT_EQ(m_dlg.m_stcStatus.GetWindowText(), "");
    App().m_nMode = 3;
    ASSERT_EQ(m_dlg.GetZynInfo(FALSE), 1);
    EXPECT_EQ(m_dlg.m_stcStatus.GetWindowText(), "");
    App().m_nMode = 0;
    ASSERT_EQ(m_dlg.GetZynInfo(FALSE), 1);
    EXPECT_EQ(m_dlg.m_stcStatus.GetWindowText(), "専用CADﾌｫﾙﾀﾞ:" + m_cad + " 現ﾊﾞｰｼﾞｮﾝ:3.5a(ﾘﾋﾞｼﾞｮﾝ.12)");
    m_dlg.m_stcStatus.Detach();
    ::DestroyWindow(status);
}

TEST_F(Discovery, SettingsOfModeZeroAndTheFoldersBesideThem) {
    WriteIni("FixDirUrl=http://127.0.0.1/zyn/\r\nFixFileName=UPD\r\n");
    WriteBytes(m_cad + "Ver3.5", "(No.3)");
    std::string log1 = App().m_pszHelpFilePath;
    RixSetPathParts(log1, nullptr, nullptr, nullptr, ".LOG1");
    ASSERT_TRUE(WriteBytes(log1, "x.BAK1\r\n"));
    BOOL read = m_dlg.ReadSetting(TRUE);
    ::DeleteFileA(log1.c_str());
    ASSERT_TRUE(read);
    EXPECT_TRUE(m_boxes.Shown().empty());
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(m_dlg.m_strTempPath, temp);
    EXPECT_EQ(m_dlg.m_strWorkDir, std::string(temp) + "discovery_test\\");
    EXPECT_EQ(m_dlg.m_strIniPath, IniPath());
    EXPECT_EQ(m_dlg.m_strFixDirUrl, "http://127.0.0.1/zyn/");
    EXPECT_EQ(m_dlg.m_strFixFileName, "UPD");
    EXPECT_EQ(m_dlg.m_strAppName, "ravaZAZ");
    EXPECT_EQ(m_dlg.m_nVersion, 350);
    EXPECT_EQ(m_dlg.m_nLogCount, 1);
    EXPECT_EQ(m_dlg.m_strAgent.rfind("ZynUpdate MODE:0 OS:", 0), 0u);
}

TEST_F(Discovery, EachModeReadsItsOwnKeysAndNames) {
    WriteBytes(m_cad + "Ver3.5", "(No.3)");
    const std::string all = "FixDirUrl=http://plain/\r\nFixFileName=UPD\r\nDoviFixDirUrl=http://dovi/\r\n"
                            "DoviFixFileName=DOV\r\n7qvFixFileName=QV\r\n";
    const struct {
        int mode;
        std::string ini;
        const char *url, *name, *appName;
    } cases[] = {{1, all, "http://dovi/", "DOV", "ホルビア"},
                 {3, all, "http://plain/", "UPD", "ravaZAZ"},
                 {2, "7qvFixDirUrl=http://qv/\r\n7qvFixFileName=QV\r\nAppName=鉄骨ﾃｽﾄ\r\n", "http://qv/", "QV", "鉄骨ﾃｽﾄ"},
                 {2, "7qvFixDirUrl=http://qv/\r\n7qvFixFileName=QV\r\n", "http://qv/", "QV", "vardoPlus"},
                 {1, "DoviFixDirUrl=http://d/\r\nDoviFixFileName=D\r\nAppName=\r\n", "http://d/", "D", "ホルビア"}};
    for (const auto& c : cases) {
        App().m_nMode = c.mode;
        WriteIni(c.ini);
        ASSERT_TRUE(m_dlg.ReadSetting(TRUE)) << c.mode << " " << c.ini;
        EXPECT_EQ(m_dlg.m_strFixDirUrl, c.url);
        EXPECT_EQ(m_dlg.m_strFixFileName, c.name);
        EXPECT_EQ(m_dlg.m_strAppName, c.appName);  // an empty AppName keeps the default
        EXPECT_EQ(m_dlg.m_strAgent.rfind(StrFormat("ZynUpdate MODE:%d ", c.mode), 0), 0u);
    }
    EXPECT_TRUE(m_boxes.Shown().empty());
}

TEST_F(Discovery, SettingsFailuresStopAtTheFirstAndSayWhy) {
    WriteBytes(m_cad + "Ver3.5", "(No.3)");
    const std::string ini = IniPath();
    const std::string noUrl = "設定ﾌｧｲﾙ[" + ini + "]から更新ﾌｧｲﾙ格納ﾃﾞｨﾚｸﾄﾘURLの取得に失敗しました";
    EXPECT_FALSE(m_dlg.ReadSetting(TRUE));  // no settings file at all
    WriteIni("FixDirUrl=\r\nFixFileName=\r\n");
    EXPECT_FALSE(m_dlg.ReadSetting(TRUE));
    WriteIni("FixDirUrl=http://127.0.0.1/\r\nFixFileName=\r\n");
    EXPECT_FALSE(m_dlg.ReadSetting(TRUE));
    App().m_nMode = 2;  // reads only the 7qv keys
    WriteIni("FixDirUrl=http://plain/\r\nFixFileName=UPD\r\n7qvFixFileName=QV\r\n");
    EXPECT_FALSE(m_dlg.ReadSetting(TRUE));
    EXPECT_EQ(m_boxes.Texts(), (std::vector<std::string>{noUrl, noUrl, "設定ﾌｧｲﾙ[" + ini + "]から更新ﾌｧｲﾙ名の取得に失敗しました",
                                                          noUrl}));
    for (const CShownBox& box : m_boxes.Shown()) {
        EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
        EXPECT_EQ(box.caption, App().m_pszAppName);
    }

    // A missing Ver file shows discovery's message, then the settings' own.
    m_boxes.Clear();
    App().m_nMode = 0;
    ::DeleteFileA((m_cad + "Ver3.5").c_str());
    WriteIni("FixDirUrl=http://127.0.0.1/\r\nFixFileName=UPD\r\nAppName=ZAZ\r\n");
    EXPECT_FALSE(m_dlg.ReadSetting(TRUE));
    EXPECT_EQ(m_boxes.Texts(), (std::vector<std::string>{m_cad + "以下にVer*ﾌｧｲﾙが存在しませんでした",
                                                          "ZAZのﾊﾞｰｼﾞｮﾝを取得できませんでした"}));
}

TEST_F(Discovery, AgentStringCarriesModeSystemAndProcessor) {
    App().m_nMode = 2;
    m_dlg.MakeAgentString();
    // Wine reports a 64-bit x86 machine; the processor fields are the machine's own.
    std::regex shape("ZynUpdate MODE:2 OS:\\d+\\.\\d+\\.\\d+\\(x64\\) CPU:\\d+\\.[0-9A-F]+\\.[0-9A-F]+\\.[0-9A-F]+");
    EXPECT_TRUE(std::regex_match(m_dlg.m_strAgent, shape)) << m_dlg.m_strAgent;
}

// The update check against the loopback server: the server folder is D:\unit\srv\.
class Check : public Discovery {
protected:
    void SetUp() override {
        Discovery::SetUp();
        m_server = ScratchFolder("srv");
        m_temp = ScratchFolder("tmp");
        m_dlg.m_strFixDirUrl = ServerUrl("unit/srv/");
        m_dlg.m_strFixFileName = "UPD";
        m_dlg.m_strTempPath = m_temp;
        m_dlg.MakeAgentString();
        WriteBytes(m_cad + "Ver3.5", "ravaZAZ Ver3.5 (No.3)\r\n");
    }

    std::string m_server;
    std::string m_temp;
};

// Each row: the server's Ver3.5 (null: none), the folder URL, the mode and quiet flag; the
// revision found and the box shown, if any. Only a newer revision names the update file.
TEST_F(Check, RevisionFoundAndItsAnnouncement) {
    const std::string found = "ﾘﾋﾞｼﾞｮﾝ[12]への更新ﾌｧｲﾙがあります", sameRevision = "現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません",
                      noVersion = "現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません";
    const std::string folder = ServerUrl("unit/srv/");
    const std::string closed = StrFormat("http://127.0.0.1:%d/", TestServer().closedPort);
    const struct {
        const char* ver;
        std::string url;
        int mode, quiet, revision;
        std::string box;
    } cases[] = {
        {"ravaZAZ Ver3.5 更新内容 (No.3)\r\n(No.12)\r\n", folder, 0, FALSE, 12, found},
        {"(No.12)", folder, 0, TRUE, 12, ""},
        {"(No.12)", folder, 1, FALSE, 12, ""},  // mode 1 does not announce it
        {"(No.3)", folder, 0, FALSE, 0, sameRevision},
        {"(No.2)", folder, 0, FALSE, 0, sameRevision},
        {"no marker", folder, 0, FALSE, 0, sameRevision},
        {"(No.2)", folder, 0, TRUE, 0, ""},
        {nullptr, folder, 0, FALSE, 0, noVersion},  // 404: ReadUrlFile adds nothing of its own
        {nullptr, folder, 0, TRUE, 0, ""},
        {"(No.12)", ServerUrl("unit/srv"), 0, FALSE, 0, noVersion},  // without its "/" it runs into the name
        {"(No.12)", closed, 0, TRUE, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + (c.ver ? c.ver : "(none)") + " quiet " + std::to_string(c.quiet));
        App().m_nMode = c.mode;
        m_dlg.m_strFixDirUrl = c.url;
        m_dlg.m_strUpdateUrl = m_dlg.m_strUpdateFile = "before";
        if (c.ver)
            WriteBytes(m_server + "Ver3.5", c.ver);
        else
            ::DeleteFileA((m_server + "Ver3.5").c_str());
        m_boxes.Clear();

        EXPECT_EQ(m_dlg.CheckUpdate(c.quiet), c.revision);
        EXPECT_EQ(m_dlg.m_strVerUrl, c.url + "Ver3.5");
        EXPECT_EQ(m_dlg.m_strUpdateUrl, c.revision ? folder + "UPD350.EXE" : "before");
        EXPECT_EQ(m_dlg.m_strUpdateFile, c.revision ? m_temp + "UPD350_12.EXE" : "before");
        if (c.box.empty()) {
            EXPECT_TRUE(m_boxes.Shown().empty());
        } else {
            EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{c.box});
            EXPECT_EQ(m_boxes.Shown().back().type, kInformation);
        }
    }
}

TEST_F(Check, NoInstalledVersionIsReportedEvenQuietly) {
    ::DeleteFileA((m_cad + "Ver3.5").c_str());
    EXPECT_EQ(m_dlg.CheckUpdate(TRUE), 0);
    ASSERT_EQ(m_boxes.Texts(), (std::vector<std::string>{m_cad + "以下にVer*ﾌｧｲﾙが存在しませんでした",
                                                          "専用CADのﾊﾞｰｼﾞｮﾝを取得できませんでした"}));
    EXPECT_EQ(m_boxes.Shown()[1].caption, "CZynUpdateDlg::CheckUpdate");
    EXPECT_EQ(m_boxes.Shown()[1].type, static_cast<UINT>(MB_OK));
}

TEST_F(Check, NewerVersionIsTheHighestOfTheNextTenPublishedAndNoneWhenUnreachable) {
    EXPECT_EQ(m_dlg.FindNewerVersion(), 0);
    WriteBytes(m_server + "Ver3.8", "");
    WriteBytes(m_server + "Ver3.6", "");
    EXPECT_EQ(m_dlg.FindNewerVersion(), 380);  // gaps are allowed
    WriteBytes(m_server + "Ver4.5", "");        // the tenth step
    WriteBytes(m_server + "Ver4.6", "");        // beyond it
    EXPECT_EQ(m_dlg.FindNewerVersion(), 450);
    EXPECT_TRUE(m_boxes.Shown().empty());

    // 3.55 probes 3.65, named Ver3.6 by one-decimal formatting.
    RemoveTree(m_server);
    ScratchFolder("srv");
    ::DeleteFileA((m_cad + "Ver3.5").c_str());
    WriteBytes(m_cad + "Ver3.55", "(No.1)");
    WriteBytes(m_server + "Ver3.6", "");
    EXPECT_EQ(m_dlg.FindNewerVersion(), 365);

    m_dlg.m_strFixDirUrl = StrFormat("http://127.0.0.1:%d/", TestServer().closedPort);
    EXPECT_EQ(m_dlg.FindNewerVersion(), 0);  // an unreachable server has nothing newer
    EXPECT_TRUE(m_boxes.Shown().empty());
}

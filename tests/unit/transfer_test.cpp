#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "../server/UpdateServer.h"
#include "DownloadPlan.h"
#include "RixPath.h"
#include "RixUrl.h"
#include "TestSupport.h"
#include "UrlText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "progress_watch.h"
#include "resource.h"

namespace {
// Bytes that show where they came from: a shifted or cut copy never matches.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return bytes;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    CFindDataList found;
    RixFindFiles(folder, "*", found, FALSE);
    std::vector<std::string> names;
    for (const WIN32_FIND_DATAA& record : found)
        names.push_back(record.cFileName);
    return names;
}

class Transfer : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(TestServer().port, 0) << "the update server is not running: run this through ctest";
        m_server = ScratchFolder("transfer_srv");
        m_temp = ScratchFolder("transfer_tmp");
        m_dlg.MakeAgentString();
        m_dlg.m_strUpdateUrl = ServerUrl("unit/transfer_srv/UPD350.EXE");
        m_dlg.m_strUpdateFile = m_temp + "UPD350_12.EXE";
    }

    std::string Url(const std::string& name) { return ServerUrl("unit/transfer_srv/" + name); }

    // Reads url with the buffer every caller uses, filled with 'x' beforehand.
    BOOL Read(const std::string& url, std::string& text, BOOL bQuiet = FALSE) {
        m_buffer.assign(kUrlTextBufferBytes, 'x');
        BOOL ok = m_dlg.ReadUrlFile(url, m_buffer.data(), kUrlTextLimit, bQuiet);
        text.assign(m_buffer.data());
        return ok;
    }

    std::string m_server;
    std::string m_temp;
    std::vector<char> m_buffer;
    CZynUpdateDlg m_dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
    CMessageBoxRecorder m_boxes;
};

const char kDownloadCaption[] = "CZynUpdateDlg::Download";
}  // namespace

TEST(UrlParts, HostAlonePathAloneAndTheServersPort) {
    const std::string full = "http://user:pw@example.test:8080/dir/UPD350.EXE?x=1#top";
    std::string url = full;
    ASSERT_TRUE(RixSetUrlParts(url, "", nullptr, "", "", "", ""));
    EXPECT_EQ(url, "example.test");
    url = full;
    ASSERT_TRUE(RixSetUrlParts(url, "", "", "", "", nullptr, ""));
    EXPECT_EQ(url, "/dir/UPD350.EXE");
    url = "http://example.test:8080/dir/a.txt?x=1";
    ASSERT_TRUE(RixSetUrlParts(url, nullptr, "other.test", nullptr, nullptr, "b.txt", nullptr));
    EXPECT_EQ(url, "http://other.test/b.txt?x=1");  // the port is never written back
    url = "not a url";
    EXPECT_FALSE(RixSetUrlParts(url, "", nullptr, "", "", "", ""));
    EXPECT_EQ(url, "not a url");

    // The download goes to the URL's port, or the scheme's default.
    const struct {
        const char* url;
        INTERNET_PORT port;
        BOOL secure;
    } cases[] = {{"http://example.test/a.EXE", 80, FALSE},
                 {"http://example.test:8080/a.EXE", 8080, FALSE},
                 {"https://example.test/a.EXE", 443, TRUE},
                 {"HTTPS://example.test:8443/a.EXE", 8443, TRUE}};
    for (const auto& c : cases) {
        INTERNET_PORT port = 0;
        BOOL secure = !c.secure;
        ASSERT_TRUE(RixGetUrlServer(c.url, port, secure)) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
        EXPECT_EQ(secure, c.secure) << c.url;
    }
    INTERNET_PORT port = 0;
    BOOL secure = TRUE;
    EXPECT_FALSE(RixGetUrlServer("not a url", port, secure));
}

TEST(DownloadPlan, BlocksOfOneKibAndTheirPositions) {
    EXPECT_EQ(DownloadBlockCount(2500), 3u);
    EXPECT_EQ(DownloadBlockSize(2500, 1), 1024u);
    EXPECT_EQ(DownloadBlockSize(2500, 2), 452u);
    EXPECT_EQ(DownloadBlockCount(1024), 1u);
    EXPECT_EQ(DownloadBlockCount(1025), 2u);
    EXPECT_EQ(DownloadBlockCount(5000000000ull), 4882813u);  // beyond 4 GiB
    EXPECT_EQ(DownloadPosition(4882812, 4882813), 99);
}

TEST_F(Transfer, ReadsTheWholeBodyZeroTerminated) {
    std::string body = Pattern(100000);  // more than one read's worth
    WriteBytes(m_server + "Ver3.5", body);
    std::string text;
    ASSERT_TRUE(Read(Url("Ver3.5"), text));
    EXPECT_EQ(text, body);
    WriteBytes(m_server + "Empty", "");
    ASSERT_TRUE(Read(Url("Empty"), text));
    EXPECT_EQ(text, "");
    // A body without Content-Length and one behind a redirect arrive the same.
    ASSERT_TRUE(Read(ServerUrl("-/nolength/unit/transfer_srv/Ver3.5"), text));
    EXPECT_EQ(text, body);
    // So does one that trickles in piece by piece.
    WriteBytes(m_server + "Ver3.6", body.substr(0, 20000));
    ASSERT_TRUE(Read(ServerUrl("-/slow/unit/transfer_srv/Ver3.6"), text));
    EXPECT_EQ(text, body.substr(0, 20000));
    ASSERT_TRUE(Read(ServerUrl("-/redirect/unit/transfer_srv/Ver3.5"), text));
    EXPECT_EQ(text, body);
    ASSERT_TRUE(Read(ServerUrl("-/agent"), text));  // the client identity goes along
    EXPECT_EQ(text, m_dlg.m_strAgent);
    EXPECT_TRUE(m_boxes.Shown().empty());
}

TEST_F(Transfer, ALongBodyIsCutAtTheLimit) {
    std::string body = Pattern(kUrlTextLimit + 5000);
    WriteBytes(m_server + "Ver3.5", body);
    std::string text;
    ASSERT_TRUE(Read(Url("Ver3.5"), text));
    EXPECT_EQ(text, body.substr(0, kUrlTextLimit));
    EXPECT_EQ(m_buffer[kUrlTextLimit], '\0');
    WriteBytes(m_server + "Ver3.6", Pattern(kUrlTextLimit));
    ASSERT_TRUE(Read(Url("Ver3.6"), text));
    EXPECT_EQ(text.size(), kUrlTextLimit);
}

TEST_F(Transfer, OnlyAnUnreachableServerIsReportedAndOnlyUnlessQuiet) {
    std::string text;
    for (const std::string& url : {Url("Ver9.9"), ServerUrl("-/status/500/x")})
        EXPECT_FALSE(Read(url, text)) << url;
    std::string unreachable = StrFormat("http://127.0.0.1:%d/Ver3.5", TestServer().closedPort);
    EXPECT_FALSE(Read(unreachable, text, TRUE));
    EXPECT_TRUE(m_boxes.Shown().empty());
    EXPECT_FALSE(Read(unreachable, text, FALSE));
    ASSERT_EQ(m_boxes.Texts(), std::vector<std::string>{"指定URL[" + unreachable + "]を開けませんでした"});
    EXPECT_EQ(m_boxes.Shown()[0].caption, "CZynUpdateDlg::ReadUrlFile");
    EXPECT_EQ(m_boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(Transfer, DownloadWritesEveryBlockAndShowsItsShare) {
    std::string body = Pattern(2500);
    WriteBytes(m_server + "UPD350.EXE", body);
    CProgressWatch watch;
    ASSERT_TRUE(m_dlg.Download());
    EXPECT_TRUE(m_boxes.Shown().empty());
    EXPECT_EQ(ReadBytes(m_dlg.m_strUpdateFile), body);
    EXPECT_EQ(FilesIn(m_temp), std::vector<std::string>{m_dlg.m_strUpdateFile});
    // The first 0 is the bar's start as the window opens; then one position per block.
    EXPECT_EQ(watch.positions, (std::vector<int>{0, 0, 33, 66}));
    EXPECT_EQ(watch.Caption(), "ﾀﾞｳﾝﾛｰﾄﾞ中");
}

TEST_F(Transfer, DownloadReplacesAnOlderFileAndFollowsRedirects) {
    WriteBytes(m_dlg.m_strUpdateFile, "an older download");
    std::string body = Pattern(3 * 1024);
    WriteBytes(m_server + "UPD360.EXE", body);
    m_dlg.m_strUpdateUrl = ServerUrl("-/redirect/unit/transfer_srv/UPD360.EXE");
    ASSERT_TRUE(m_dlg.Download());
    EXPECT_EQ(ReadBytes(m_dlg.m_strUpdateFile), body);

    WriteBytes(m_server + "UPD350.EXE", "");
    m_dlg.m_strUpdateUrl = Url("UPD350.EXE");
    ASSERT_TRUE(m_dlg.Download());
    EXPECT_TRUE(Exists(m_dlg.m_strUpdateFile));
    EXPECT_EQ(ReadBytes(m_dlg.m_strUpdateFile), "");
    EXPECT_TRUE(m_boxes.Shown().empty());
}

TEST_F(Transfer, FailedDownloadsSayWhyAndLeaveNoFile) {
    WriteBytes(m_server + "UPD350.EXE", Pattern(2000));
    const std::string noLength = "更新ﾌｧｲﾙの長さを取得できませんでした";
    const struct {
        std::string url, file, message;
    } cases[] = {
        {Url("UPD351.EXE"), "", "更新ﾌｧｲﾙ[/unit/transfer_srv/UPD351.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=404)"},
        {ServerUrl("-/status/500/dir/UPD350.EXE?ignored=1"), "",
         "更新ﾌｧｲﾙ[/-/status/500/dir/UPD350.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=500)"},
        {ServerUrl("-/nolength/unit/transfer_srv/UPD350.EXE"), "", noLength},
        // A length that is no number is no length either, not an empty update.
        {ServerUrl("-/badlength/unit/transfer_srv/UPD350.EXE"), "", noLength},
        {StrFormat("http://127.0.0.1:%d/UPD350.EXE", TestServer().closedPort), "", "作成したHTTP要求の発行ができませんでした"},
        {Url("UPD350.EXE"), m_temp + "missing\\UPD350_12.EXE", "更新ﾌｧｲﾙの作成に失敗しました"},
    };
    for (const auto& c : cases) {
        m_boxes.Clear();
        m_dlg.m_strUpdateUrl = c.url;
        if (!c.file.empty())
            m_dlg.m_strUpdateFile = c.file;
        EXPECT_FALSE(m_dlg.Download()) << c.url;
        EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(m_boxes.Shown().at(0).caption, kDownloadCaption);
        EXPECT_EQ(m_boxes.Shown().at(0).type, static_cast<UINT>(MB_OK));
        EXPECT_TRUE(FilesIn(m_temp).empty()) << c.url;
    }
}

TEST_F(Transfer, ABodyShorterThanAnnouncedIsAFailedDownload) {
    WriteBytes(m_dlg.m_strUpdateFile, "an older download");
    WriteBytes(m_server + "UPD350.EXE", Pattern(10000));
    m_dlg.m_strUpdateUrl = ServerUrl("-/short/unit/transfer_srv/UPD350.EXE");
    EXPECT_FALSE(m_dlg.Download());
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"});
    EXPECT_EQ(m_boxes.Shown()[0].caption, kDownloadCaption);
    EXPECT_TRUE(FilesIn(m_temp).empty());
}

TEST_F(Transfer, CancelStopsMidwayAndLeavesNoFile) {
    WriteBytes(m_server + "UPD350.EXE", Pattern(1024 * 1024));  // about 20 s when sent slowly
    m_dlg.m_strUpdateUrl = ServerUrl("-/slow/unit/transfer_srv/UPD350.EXE");
    CProgressWatch watch;
    std::vector<std::string> filesAtCancel;
    WIN32_FILE_ATTRIBUTE_DATA partial = {};
    watch.CancelAtPosition(2, [&] {
        filesAtCancel = FilesIn(m_temp);
        if (filesAtCancel.size() == 1)
            ::GetFileAttributesExA(filesAtCancel[0].c_str(), GetFileExInfoStandard, &partial);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_dlg.Download());
    // Long before the server would have sent it all.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました"});
    // Midway the bytes so far lay under another name than the final one.
    ASSERT_EQ(filesAtCancel.size(), 1u);
    EXPECT_NE(filesAtCancel[0], m_dlg.m_strUpdateFile);
    EXPECT_GE(partial.nFileSizeLow, 4u * 1024);
    EXPECT_TRUE(FilesIn(m_temp).empty());
}

TEST_F(Transfer, DownloadGoesToTheUrlsPortAndSpeaksTlsForHttps) {
    std::string probe = StrFormat("127.0.0.1:%d/UPD350.EXE", TestServer().probePort);
    std::string seen;
    m_dlg.m_strUpdateUrl = "http://" + probe;
    EXPECT_FALSE(m_dlg.Download());
    ASSERT_TRUE(Read(ServerUrl("-/probe"), seen));
    EXPECT_EQ(seen.substr(seen.rfind(' ') + 1), "http");
    m_dlg.m_strUpdateUrl = "https://" + probe;
    EXPECT_FALSE(m_dlg.Download());
    ASSERT_TRUE(Read(ServerUrl("-/probe"), seen));
    EXPECT_EQ(seen.substr(seen.rfind(' ') + 1), "tls");
    EXPECT_TRUE(FilesIn(m_temp).empty());
}

namespace {
// The information pane: a real multi-line edit control bound to the dialog member.
class InfoPane : public Transfer {
protected:
    void SetUp() override {
        Transfer::SetUp();
        // No word wrap: Wine wraps a long line in quadratic time, and the text is what counts here.
        m_pane = ::CreateWindowA("EDIT", "old text", WS_POPUP | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY, 0, 0, 100,
                                 100, nullptr, nullptr, nullptr, nullptr);
        m_dlg.m_edtInfo.Attach(m_pane);
    }
    void TearDown() override {
        m_dlg.m_edtInfo.Detach();
        ::DestroyWindow(m_pane);
        for (const std::string& log : m_logs)
            ::DeleteFileA(log.c_str());
    }

    std::string Pane() const { return m_dlg.m_edtInfo.GetWindowText(); }

    std::string WriteLog(int n, const std::string& text) {
        std::string log;
        m_dlg.GetRollbackLogName(n, log);
        WriteBytes(log, text);
        m_logs.push_back(log);
        return log;
    }

    HWND m_pane = nullptr;
    std::vector<std::string> m_logs;
};
}  // namespace

// The server's Ver text, cut at a zero byte, under the pane's heading; a failed read keeps the pane.
TEST_F(InfoPane, ShowsTheServersVerTextOrKeepsThePane) {
    using Texts = std::vector<std::string>;
    const std::string heading = "更新内容は以下の通りです\r\n\r\n";
    const std::string contents = "ravaZAZ Ver3.5 更新内容 (No.12)\r\n・鋼材データ追加\r\n";
    const std::string missing = Url("Ver3.6");
    const std::string unreachable = StrFormat("http://127.0.0.1:%d/Ver3.5", TestServer().closedPort);
    const struct {
        std::string served, url, pane;
        Texts boxes;
    } cases[] = {
        {contents, Url("Ver3.5"), heading + contents, {}},
        {std::string("before\0after", 12), Url("Ver3.5"), heading + "before", {}},
        {"", Url("Ver3.5"), heading, {}},
        {"", missing, "old text", {"更新内容URL[" + missing + "]を開けませんでした\n"}},  // 404: only the pane's own message
        {"", unreachable, "old text",
         {"指定URL[" + unreachable + "]を開けませんでした", "更新内容URL[" + unreachable + "]を開けませんでした\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        WriteBytes(m_server + "Ver3.5", c.served);
        m_dlg.m_strVerUrl = c.url;
        m_dlg.m_edtInfo.SetWindowText("old text");
        m_boxes.Clear();
        EXPECT_EQ(m_dlg.DispInfo(FALSE) != FALSE, c.boxes.empty());
        EXPECT_EQ(Pane(), c.pane);
        EXPECT_EQ(m_boxes.Texts(), c.boxes);
        if (!c.boxes.empty()) {
            EXPECT_EQ(m_boxes.Shown().back().caption, "CZynUpdateDlg::DispInfo");
        }
    }
}

TEST_F(InfoPane, ShowsTheNewestRollbackLogWhole) {
    WriteLog(1, "D:\\CAD\\a.dll.BAK1\r\n");
    std::string longLine;  // longer than one piece of the reader
    while (longLine.size() < 140000)
        longLine += "D:\\CAD\\data\\long name.BAK2 ";
    std::string log = WriteLog(2, "D:\\CAD\\bin\\b.dll.BAK2\r\n" + longLine + "\r\n");
    m_dlg.m_nLogCount = 2;
    ASSERT_TRUE(m_dlg.DispInfo(TRUE));
    EXPECT_EQ(Pane(), "復元ﾛｸﾞﾌｧｲﾙ[" + log + "]の内容は以下の通りです\r\n\r\nD:\\CAD\\bin\\b.dll.BAK2\r\n" + longLine +
                          "\r\n");

    ::DeleteFileA(log.c_str());
    m_dlg.m_edtInfo.SetWindowText("old text");
    EXPECT_FALSE(m_dlg.DispInfo(TRUE));
    EXPECT_EQ(Pane(), "old text");
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"復元ﾛｸﾞﾌｧｲﾙ[" + log + "]を開けませんでした\n"});
    EXPECT_EQ(m_boxes.Shown()[0].caption, "CZynUpdateDlg::DispInfo");
}

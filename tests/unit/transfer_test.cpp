// Against the update server that ctest starts (tests/server/update_server.py) serving drive D:.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Format.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "ZynUpdateDlg.h"
#include "progress_watch.h"
#include "resource.h"

namespace {
int ServerPort() {
    static int port = std::atoi(ReadBytes(BuildFolder() + "update_server.txt").c_str());  // "<port> <pid>"
    return port;
}
std::string ServerUrl(const std::string& path, int port = ServerPort()) {
    return StrFormat("http://127.0.0.1:%d/%s", port, path.c_str());
}
const std::string kRefused = "http://127.0.0.1:9/UPD350.EXE";  // nothing listens on the discard port

std::string Pattern(size_t size) {  // a shifted or cut copy never matches
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes += static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return bytes;
}

class Transfer : public testing::Test {
protected:
    void SetUp() override {
        m_dlg.m_strUpdateFile = m_temp + "UPD350_12.EXE";
        WriteBytes(m_server + "UPD350.EXE", Pattern(2500));
        WriteBytes(m_server + "UPD360.EXE", Pattern(8000));  // more than a stalling server sends
    }
    int FilesInTemp() {
        CFindDataList found;
        return RixFindFiles(m_temp, "*", found, FALSE);
    }
    std::string m_server = ScratchFolder("srv"), m_temp = ScratchFolder("tmp");
    CZynUpdateDlg m_dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
    CMessageBoxRecorder m_boxes;
};
}  // namespace

TEST_F(Transfer, DownloadShowsEachBlocksShareAndReplacesAnOlderFile) {
    WriteBytes(m_dlg.m_strUpdateFile, "an older download");
    m_dlg.m_strUpdateUrl = ServerUrl("-/redirect/-/redirect/unit/srv/UPD350.EXE");
    CProgressWatch watch;
    ASSERT_TRUE(m_dlg.Download());
    DWORD cacheBytes = 0;  // the file is on disk once, not in WinINet's cache as well
    EXPECT_FALSE(::GetUrlCacheEntryInfoA(ServerUrl("unit/srv/UPD350.EXE").c_str(), nullptr, &cacheBytes));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadBytes(m_dlg.m_strUpdateFile), Pattern(2500));
    EXPECT_EQ(FilesInTemp(), 1);
    EXPECT_EQ(watch.positions, (std::vector<int>{0, 0, 33, 66}));  // the bar's start, then one per block
    EXPECT_EQ(watch.Caption(), "ﾀﾞｳﾝﾛｰﾄﾞ中");
}

// Each failure, before the file is created or after, says why and leaves neither a partial nor an older file.
TEST_F(Transfer, FailedDownloadsSayWhyAndLeaveNoFile) {
    const std::string noLength = "更新ﾌｧｲﾙの長さを取得できませんでした";
    const struct {
        std::string url, message;
    } cases[] = {
        {ServerUrl("-/short/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"},  // also drops the older file
        {ServerUrl("unit/srv/UPD351.EXE?x=1"), "更新ﾌｧｲﾙ[/unit/srv/UPD351.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=404)"},
        {ServerUrl("-/nolength/unit/srv/UPD350.EXE"), noLength},
        {ServerUrl("-/badlength/unit/srv/UPD350.EXE"), noLength},
        {ServerUrl("-/hugelength/unit/srv/UPD350.EXE"), noLength},
        {ServerUrl("-/stall/unit/srv/UPD360.EXE"), "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"},  // after the timeout
        {ServerUrl("-/loop/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙ[/-/loop/unit/srv/UPD350.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=302)"},
        {ServerUrl("unit/srv/UPD350.EXE", ServerPort() + 65536), "サーバへ接続できませんでした"},  // no wrap to the server
        {kRefused, "作成したHTTP要求の発行ができませんでした"},
        // TLS on a plain HTTP port: a client that spoke plain HTTP would get the file.
        {"https" + ServerUrl("unit/srv/UPD350.EXE").substr(4), "作成したHTTP要求の発行ができませんでした"},
    };
    m_dlg.m_nTimeout = 1;
    for (const auto& c : cases) {
        WriteBytes(m_dlg.m_strUpdateFile, "an older download");
        m_boxes.Clear();
        m_dlg.m_strUpdateUrl = c.url;
        EXPECT_FALSE(m_dlg.Download()) << c.url;
        EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(m_boxes.Shown().at(0).caption, "CZynUpdateDlg::Download");
        EXPECT_EQ(FilesInTemp(), 0) << c.url;
    }
    m_dlg.m_strUpdateUrl = ServerUrl("unit/srv/UPD350.EXE");
    m_dlg.m_strUpdateFile = m_temp + "missing\\UPD350_12.EXE";
    EXPECT_FALSE(m_dlg.Download());
    EXPECT_EQ(m_boxes.Texts().back(), "更新ﾌｧｲﾙの作成に失敗しました");
}

TEST_F(Transfer, CancelStopsMidwayWithTheBytesUnderAnotherName) {
    WriteBytes(m_server + "UPD350.EXE", Pattern(1024 * 1024));  // about 20 s when sent slowly
    m_dlg.m_strUpdateUrl = ServerUrl("-/slow/unit/srv/UPD350.EXE");
    CProgressWatch watch;
    WIN32_FILE_ATTRIBUTE_DATA partial = {};  // the bytes so far lie under another name than the final one
    watch.CancelAtPosition(2, [&] {
        ::GetFileAttributesExA((m_dlg.m_strUpdateFile + ".tmp").c_str(), GetFileExInfoStandard, &partial);
    });
    EXPECT_FALSE(m_dlg.Download());
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました"});
    EXPECT_GE(partial.nFileSizeLow, 4u * 1024);
    EXPECT_EQ(FilesInTemp(), 0);
}

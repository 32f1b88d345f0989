// What the real program cannot easily reach on the update's way in (the ordinary run is in test_backup.py): the
// download from the server that ctest starts, the extraction's progress lines, the replace, its undo.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <map>

#include "DownloadPlan.h"
#include "Format.h"
#include "ProgressDlg.h"
#include "RixPath.h"
#include "TestSupport.h"
#include "WideText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
using Files = std::map<std::string, std::string>;
using Texts = std::vector<std::string>;

// Records what this thread's progress dialogs show, in order, calling back while the operation waits, and clicks
// Cancel for real once the bar reaches cancelAt: the click is posted, so the operation sees it at its next check.
// With pause set, each step shown takes longer than the progress waits between two steps, so every step shows.
struct CProgressWatch {
    CProgressWatch() { s_watch = this; }
    ~CProgressWatch() { ::UnhookWindowsHookEx(m_hook); }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPRETSTRUCT& call = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        HWND dialog = ::GetDlgItem(call.hwnd, IDC_PROGRESS_BAR) ? call.hwnd : ::GetParent(call.hwnd);
        if (code == HC_ACTION && dialog && ::GetDlgItem(dialog, IDC_PROGRESS_BAR))
            s_watch->Seen(dialog, call);
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    void Seen(HWND dialog, const CWPRETSTRUCT& call) {
        if (pause && (call.message == WM_SETTEXT || call.message == PBM_SETPOS))
            ::Sleep(40);
        if (call.message == WM_SETTEXT && call.hwnd == dialog) {
            captions.push_back(Text(call.lParam));
        } else if (call.message == WM_SETTEXT && ::GetDlgCtrlID(call.hwnd) == IDC_PROGRESS_MESSAGE) {
            messages.push_back(Text(call.lParam));
            onMessage();
        } else if (call.message == PBM_SETPOS) {
            positions.push_back(static_cast<int>(call.wParam));
            onPosition();
            if (positions.back() >= cancelAt) {
                cancelAt = INT_MAX;
                ::PostMessageA(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            }
        }
    }
    static std::string Text(LPARAM lParam) {  // the windows are Unicode: texts come as UTF-16
        const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
        return TextFromWide(text, std::wcslen(text));
    }
    Texts captions, messages;
    std::vector<int> positions;
    int cancelAt = INT_MAX;
    bool pause = false;
    std::function<void()> onMessage = [] {}, onPosition = [] {};
    static inline CProgressWatch* s_watch = nullptr;
    HHOOK m_hook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, Hook, nullptr, ::GetCurrentThreadId());
};

int ServerPort() {
    static int port = std::atoi(ReadBytes(BuildFolder() + "update_server.txt").c_str());  // "<port> <pid>"
    return port;
}
std::string ServerUrl(const std::string& path, int port = ServerPort()) {
    return StrFormat("http://127.0.0.1:%d/%s", port, path.c_str());
}

Texts Answers(const std::string& path) {  // what the server answered for path, in order: "<Range or -> <status>"
    const std::string log = ReadBytes(BuildFolder() + "update_server_requests.txt");
    Texts answers;
    for (size_t at = 0, end = 0; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
        if (log.compare(at, path.size() + 1, path + " ") == 0)
            answers.push_back(log.substr(at + path.size() + 1, end - at - path.size() - 1));
    return answers;
}

std::string Pattern(size_t size) {  // a shifted or cut copy never matches
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes += static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return bytes;
}

Files TreeOf(const std::string& folder, BOOL recurse = TRUE) {
    CFindDataList found;
    RixFindFiles(folder, "*", found, recurse);
    Files tree;
    for (const WIN32_FIND_DATAA& file : found)
        tree[std::string(file.cFileName).substr(folder.size())] = ReadBytes(file.cFileName);
    return tree;
}

std::string Box(const std::string& caption, UINT type, const std::string& text) {
    return caption + "/" + std::to_string(type) + ": " + text;
}
Texts Shown(const CMessageBoxRecorder& boxes) {
    Texts shown;
    for (const CShownBox& box : boxes.Shown())
        shown.push_back(Box(box.caption, box.type, box.text));
    return shown;
}

// An installation CAD\, its update extracted into Work\, generation 1 to be logged beside the help file, and
// the update downloaded into the test's folder.
class Update : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RixMakeFolder(root + "Prog") && RixMakeFolder(cad) && RixMakeFolder(root + "Work"));
        AfxGetApp()->SetHelpFilePath(root + "Prog\\ZynUpdate.chm");
        ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));
        dlg.m_strWorkDir = root + "Work\\";
        dlg.m_strCadDir = dlg.m_strCadFolder = cad;
        dlg.m_nLogCount = 1;
        dlg.m_strUpdateFile = root + "UPD350_12.EXE";
    }
    std::string Log(int n) const { return root + "Prog\\ZynUpdate.LOG" + std::to_string(n); }
    static std::string Undoing(const std::string& dst) { return "退避ﾌｧｲﾙ[" + dst + ".BAK1]から元ﾌｧｲﾙ[" + dst + "]に復元中"; }
    void Lay(const Files& installed, const std::vector<std::pair<std::string, std::string>>& update = {}) {
        for (const auto& [name, bytes] : installed)
            ASSERT_TRUE(WriteBytes(cad + name, bytes));
        for (const auto& [name, bytes] : update) {
            ASSERT_TRUE(WriteBytes(dlg.m_strWorkDir + name, bytes));
            dlg.m_files.push_back(dlg.m_strWorkDir + name);
        }
    }
    CFileHandle Lock(const std::string& name) const {  // as a program reading it would
        const std::string path = cad + name;
        return CFileHandle(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0));
    }

    std::string root = ScratchFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string cad = root + "CAD\\";
    CZynUpdateDlg dlg{IDD_ZYNUPDATE_DIALOG, nullptr};
    CMessageBoxRecorder boxes;
    CProgressWatch progress;
};
}  // namespace

// Each backup is listed before its file is replaced; a cancel puts back newest first and leaves no log.
TEST_F(Update, ReplaceCancelPutsBackNewestFirstAndLeavesNoGeneration) {
    Lay({{"1", "old"}, {"2", "old"}, {"3", "old"}}, {{"1", "new"}, {"2", "new"}, {"3", "new"}, {"added", "new"}});
    Texts logWhileCopying;
    progress.onMessage = [&] { logWhileCopying.push_back(progress.messages.back() + ReadBytes(Log(1))); };
    progress.cancelAt = 2;  // the click lands while the second entry is being copied
    progress.pause = true;
    EXPECT_FALSE(dlg.Replace(FALSE));
    const std::string listed1 = cad + "1.BAK1\r\n", listed2 = listed1 + cad + "2.BAK1\r\n";
    EXPECT_EQ(logWhileCopying, (Texts{cad + "1を更新中" + listed1, cad + "2を更新中" + listed2,
                                      Undoing(cad + "2") + listed2, Undoing(cad + "1") + listed2}));
    EXPECT_EQ(Shown(boxes), Texts{Box(AfxGetApp()->m_pszAppName, MB_OK | MB_ICONINFORMATION, "ﾌｧｲﾙの更新を中断しました")});
    EXPECT_EQ(TreeOf(cad), (Files{{"1", "old"}, {"2", "old"}, {"3", "old"}}));
    EXPECT_EQ(TreeOf(root + "Prog\\"), Files{});  // neither log nor work record
}

// Backups that an earlier run left behind are no backups of this call: the undo puts back
// what this call saved and removes what it added and the backups it put back. A file
// that another program holds fails before its backup is made.
TEST_F(Update, ACopyOntoALockedFileFailsAndOnlyTheFilesSavedArePutBack) {
    Lay({{"a", "old"}, {"eq", "eq"}, {"eq.BAK1", "stale"}, {"added.BAK1", "stale"}, {"locked", "old"}, {"c", "old"}},
        {{"a", "new"}, {"eq", "eq"}, {"added", "new"}, {"locked", "new"}, {"c", "new"}});
    CFileHandle holder = Lock("locked");
    progress.pause = true;
    EXPECT_FALSE(dlg.Replace(FALSE));
    const std::string a = cad + "a", locked = cad + "locked";
    EXPECT_EQ(progress.messages, (Texts{a + "を更新中", cad + "added" + "を更新中", Undoing(a)}));
    EXPECT_EQ(Shown(boxes), Texts{Box("CZynUpdateDlg::Replace", MB_OK,
                                      "ﾌｧｲﾙ[" + dlg.m_strWorkDir + "locked]を[" + locked + "]に更新できませんでした")});
    EXPECT_EQ(TreeOf(cad), (Files{{"a", "old"}, {"eq", "eq"}, {"eq.BAK1", "stale"}, {"added.BAK1", "stale"},
                                  {"locked", "old"}, {"c", "old"}}));
    EXPECT_EQ(TreeOf(root + "Prog\\"), Files{});
}

// Without backups (a simple mode), a file that fails while it is renamed into place on
// the installing thread stops the run: what waited behind it is cleared away, not installed.
TEST_F(Update, AFileThatFailsInPlaceStopsTheFilesBehindIt) {
    Lay({{"a", "old"}, {"locked", "old"}, {"c", "old"}}, {{"a", "new"}, {"locked", "new"}, {"c", "new"}});
    CFileHandle holder = Lock("locked");
    auto& app = static_cast<CZynUpdateApp&>(*AfxGetApp());
    app.m_nMode = 1;
    const BOOL replaced = dlg.Replace(FALSE);
    app.m_nMode = 0;
    EXPECT_FALSE(replaced);
    EXPECT_EQ(Shown(boxes), Texts{Box("CZynUpdateDlg::Replace", MB_OK, "ﾌｧｲﾙ[" + dlg.m_strWorkDir + "locked]を[" + cad +
                                                                          "locked]に更新できませんでした")});
    EXPECT_EQ(TreeOf(cad), (Files{{"a", "new"}, {"locked", "old"}, {"c", "old"}}));
}

// A backup is a second name of the installed file: an old backup name that already names
// it is replaced, never written through.
TEST_F(Update, AnOldBackupThatNamesTheInstalledFileIsNotWrittenThrough) {
    Lay({{"a", "old"}}, {{"a", "new"}});
    const std::string a = cad + "a", backup = a + ".BAK1";
    ASSERT_TRUE(::CreateHardLinkA(backup.c_str(), a.c_str(), nullptr));
    EXPECT_TRUE(dlg.Replace(FALSE));
    EXPECT_EQ(TreeOf(cad), (Files{{"a", "new"}, {"a.BAK1", "old"}}));
}

TEST_F(Update, ARestoreUndoNeverCopiesAStaleSafetyCopy) {
    // The first file was deleted meanwhile and has an old safety copy; the second is locked
    // and fails before its safety copy is made.
    Lay({{"gone.BAK1", "backup gone"}, {"gone.ORG", "stale"}, {"locked", "current"}, {"locked.BAK1", "backup"}});
    dlg.m_files = {cad + "gone", cad + "locked"};
    WriteBytes(Log(1), "");
    CFileHandle holder = Lock("locked");
    EXPECT_FALSE(dlg.Replace(TRUE));
    EXPECT_EQ(progress.captions, (Texts{"処理中", "復元中"}));
    EXPECT_EQ(Shown(boxes), Texts{Box("CZynUpdateDlg::Replace", MB_OK,
                                      "ﾌｧｲﾙ[" + cad + "locked.BAK1]を[" + cad + "locked]に復元できませんでした")});
    EXPECT_EQ(TreeOf(cad), (Files{{"gone", "backup gone"}, {"gone.BAK1", "backup gone"}, {"gone.ORG", "stale"},
                                  {"locked", "current"}, {"locked.BAK1", "backup"}}));
    EXPECT_TRUE(Exists(Log(1)));  // a failed restore keeps its generation
}

// Lines of other generations or no backup name are passed over, and so is a missing
// backup, except by a restore, which stops before anything changes.
TEST_F(Update, OnlyExistingBackupsOfTheGenerationAreReadAndAMissingOneStopsARestore) {
    Lay({{"a.dll.bak4", "a"}, {"b.dll.BAK3", "b"}, {"c.BAK1.BAK4", "c"}});
    WriteBytes(Log(4), cad + "a.dll.bak4\r\n" + cad + "b.dll.BAK3\r\n\r\n" + cad + "c.BAK1.BAK4\nnot a backup\r\n" +
                           cad + "missing.BAK4\r\n");
    dlg.m_nLogCount = 4;
    const Files before = TreeOf(cad);
    EXPECT_TRUE(dlg.ReadRollbackLog(FALSE));
    EXPECT_EQ(dlg.m_files, (Texts{cad + "a.dll", cad + "c.BAK1"}));
    EXPECT_FALSE(dlg.Restore());
    dlg.m_nLogCount = 0;  // without a generation the log of none is missing
    EXPECT_FALSE(dlg.Restore());
    const char caption[] = "CZynUpdateDlg::ReadRollbackLog";
    EXPECT_EQ(Shown(boxes), (Texts{Box(caption, MB_OK, "復元ﾛｸﾞに記載されたﾌｧｲﾙ[" + cad + "missing.BAK4]がありません\n復元を中断します"),
                                   Box(caption, MB_OK, "復元ﾛｸﾞﾌｧｲﾙ[" + Log(0) + "]をｵｰﾌﾟﾝできませんでした")}));
    EXPECT_EQ(TreeOf(cad), before);
    EXPECT_TRUE(Exists(Log(4)));
}

// A log that is empty, holds a zero byte, ends in a cut line, has a line too long for a path, or names a file
// outside the installation is refused whole, by a restore and a deletion alike: nothing it names is touched.
TEST_F(Update, ADamagedOrOutsideNamingLogIsRefusedWhole) {
    const std::string victim = root + "victim.BAK4", good = cad + "a.BAK4\r\n", broken = "]が壊れています";
    Lay({{"a", "now"}, {"a.BAK4", "a"}});
    WriteBytes(victim, "v");
    const std::pair<std::string, std::string> rows[] = {
        {"", broken}, {good + std::string("x\0y\r\n", 5), broken}, {good + cad + "b.BAK4", broken},
        {good + cad + std::string(300, 'x') + ".BAK4\r\n", broken},
        {good + victim + "\r\n", "]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[" + victim + "]が記載されています"},
        {good + cad + "..\\victim.BAK4\r\n", "]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[" + cad + "..\\victim.BAK4]が記載されています"}};
    for (const auto& [log, message] : rows) {
        WriteBytes(Log(4), log);
        boxes.Clear();
        dlg.m_nLogCount = 4;
        EXPECT_FALSE(dlg.Restore());
        EXPECT_FALSE(dlg.DeleteAllBackups(FALSE));
        EXPECT_EQ(Shown(boxes), Texts(2, Box("CZynUpdateDlg::ReadRollbackLog", MB_OK, "復元ﾛｸﾞﾌｧｲﾙ[" + Log(4) + message)));
        EXPECT_EQ(TreeOf(cad), (Files{{"a", "now"}, {"a.BAK4", "a"}})) << log;
        EXPECT_TRUE(Exists(victim) && Exists(Log(4))) << log;
    }
}

// What a kill leaves for the next start: a restore cut short is finished from its whole generation, a deletion
// cut short too (one backup is gone already); the updater put aside goes. A record that is damaged or names a
// file outside the installation stops the start and is kept, with nothing touched.
TEST_F(Update, TheNextStartFinishesARestoreAndADeletionAndRefusesADamagedRecord) {
    Lay({{"a.BAK2", "a"}, {"r", "r"}, {"r.BAK1", "r1"}, {"r.ZYNNEW", "half"}});
    WriteBytes(Log(2), cad + "a.BAK2\r\n" + cad + "gone.BAK2\r\n");
    WriteBytes(Log(1), cad + "r.BAK1\r\n");
    WriteBytes(root + "Prog\\ZynUpdate.RUN2", "delete\n");
    WriteBytes(root + "Prog\\ZynUpdate.RUN1", "restore\n" + cad + "r\n");
    std::string self;
    RixGetModulePath(self, TRUE);
    WriteBytes(self + ".ZYNOLD", "");
    EXPECT_TRUE(dlg.RecoverInterruptedWork());
    EXPECT_EQ(boxes.Texts(), Texts{"前回中断された復元を完了しました"});
    EXPECT_EQ(TreeOf(cad), (Files{{"r", "r1"}, {"r.ORG", "r"}}));
    EXPECT_EQ(TreeOf(root + "Prog\\"), Files{});
    EXPECT_EQ(dlg.m_nLogCount, 0);
    EXPECT_FALSE(Exists(self + ".ZYNOLD"));

    const std::string record = root + "Prog\\ZynUpdate.RUN3", advice = "\nｲﾝｽﾄｰﾙ先を確認してからこのﾌｧｲﾙを削除し、起動し直してください";
    const std::string broken = "作業記録ﾌｧｲﾙ[" + record + "]が壊れているため前回中断された処理を確認できません" + advice;
    const std::pair<std::string, std::string> rows[] = {
        {"", broken}, {std::string(64, '\0'), broken}, {"unknown\n" + cad + "r\n", broken},
        {"update\n*" + root + "victim\n", "作業記録ﾌｧｲﾙ[" + record + "]にｲﾝｽﾄｰﾙ先以外のﾌｧｲﾙ[" + root + "victim]が記載されています" + advice}};
    WriteBytes(root + "victim", "v");
    for (const auto& [text, message] : rows) {
        WriteBytes(record, text);
        boxes.Clear();
        EXPECT_FALSE(dlg.RecoverInterruptedWork());
        EXPECT_EQ(boxes.Texts(), Texts{message});
        EXPECT_EQ(TreeOf(cad), (Files{{"r", "r1"}, {"r.ORG", "r"}}));
        EXPECT_TRUE(Exists(record) && Exists(root + "victim"));
    }
}

// A download replaces an older file; each failure says why and leaves neither a partial nor an older file, and a
// cancel stops midway with the bytes so far under another name than the final one.
TEST_F(Update, DownloadReplacesAnOlderFileFailuresSayWhyAndLeaveNoFile) {
    const std::string server = ScratchFolder("srv");
    WriteBytes(server + "UPD350.EXE", Pattern(2500));
    WriteBytes(server + "UPD360.EXE", Pattern(8000));  // more than a stalling server sends
    WriteBytes(dlg.m_strUpdateFile, "an older download");
    dlg.m_strUpdateUrl = ServerUrl("-/redirect/-/redirect/unit/srv/UPD350.EXE");
    ASSERT_TRUE(dlg.Download());
    DWORD cacheBytes = 0;  // the file is on disk once, not in WinINet's cache as well
    EXPECT_FALSE(::GetUrlCacheEntryInfoA(ServerUrl("unit/srv/UPD350.EXE").c_str(), nullptr, &cacheBytes));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(TreeOf(root, FALSE), (Files{{"UPD350_12.EXE", Pattern(2500)}}));
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 0, 100}));  // the bar's start, where the copy starts, the end
    EXPECT_EQ(progress.captions, (Texts{"処理中", "ﾀﾞｳﾝﾛｰﾄﾞ中"}));
    const std::pair<std::string, std::string> cases[] = {
        {ServerUrl("-/short/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"},  // also drops the file above
        {ServerUrl("unit/srv/UPD351.EXE?x=1"), "更新ﾌｧｲﾙ[/unit/srv/UPD351.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=404)"},
        {ServerUrl("-/nolength/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙの長さを取得できませんでした"},
        {ServerUrl("-/badlength/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙの長さを取得できませんでした"},
        {ServerUrl("-/hugelength/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙの長さを取得できませんでした"},
        {ServerUrl("-/stall/unit/srv/UPD360.EXE"), "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"},  // after the timeout
        {ServerUrl("-/loop/unit/srv/UPD350.EXE"), "更新ﾌｧｲﾙ[/-/loop/unit/srv/UPD350.EXE]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=302)"},
        {ServerUrl("unit/srv/UPD350.EXE", ServerPort() + 65536), "サーバへ接続できませんでした"},  // no wrap to the server
        {"http://127.0.0.1:9/UPD350.EXE", "作成したHTTP要求の発行ができませんでした"},  // the discard port
        // TLS on a plain HTTP port: a client that spoke plain HTTP would get the file.
        {"https" + ServerUrl("unit/srv/UPD350.EXE").substr(4), "作成したHTTP要求の発行ができませんでした"},
    };
    dlg.m_nTimeout = 1;
    for (const auto& [url, message] : cases) {
        WriteBytes(dlg.m_strUpdateFile, "an older download");  // a failure before the copy drops it too
        boxes.Clear();
        dlg.m_strUpdateUrl = url;
        EXPECT_FALSE(dlg.Download()) << url;
        EXPECT_EQ(Shown(boxes), Texts{Box("CZynUpdateDlg::Download", MB_OK, message)});
        EXPECT_EQ(TreeOf(root, FALSE), Files{}) << url;
    }
    WriteBytes(server + "UPD350.EXE", Pattern(1024 * 1024));  // about 20 s when sent slowly
    dlg.m_strUpdateUrl = ServerUrl("-/slow/unit/srv/UPD350.EXE");
    WIN32_FILE_ATTRIBUTE_DATA partial = {};
    progress.onPosition = [&] {
        ::GetFileAttributesExA((dlg.m_strUpdateFile + ".tmp").c_str(), GetFileExInfoStandard, &partial);
    };
    progress.cancelAt = 2;
    EXPECT_FALSE(dlg.Download());
    EXPECT_EQ(boxes.Texts(), (Texts{"作成したHTTP要求の発行ができませんでした", "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました"}));
    EXPECT_GE(partial.nFileSizeLow, 4u * 1024);
    EXPECT_EQ(TreeOf(root, FALSE), Files{});
    dlg.m_strUpdateFile = root + "missing\\UPD350_12.EXE";
    EXPECT_FALSE(dlg.Download());
    EXPECT_EQ(boxes.Texts().back(), "更新ﾌｧｲﾙの作成に失敗しました");
}

// An interrupted download keeps what arrived and asks only for the rest of the same file; a server that ignores the
// range, a file changed meanwhile or a part other than the one asked for starts over. A final name held open fails
// before the server is asked.
TEST_F(Update, DownloadResumesOnlyTheSameFileAndAHeldFinalNameFailsFirst) {
    const std::string server = ScratchFolder("res"), partial = dlg.m_strUpdateFile + ".tmp";
    const struct { std::string how; bool bChanged; Texts answers; } rows[] = {
        {"etag", false, {"- 200", "bytes=100000- 206"}},
        {"modified", false, {"- 200", "bytes=100000- 206"}},
        {"etag,norange", false, {"- 200", "bytes=100000- 200"}},
        {"etag", true, {"- 200", "bytes=100000- 200"}},
        {"etag,badrange", false, {"- 200", "bytes=100000- 206", "- 200"}},
    };
    for (const auto& row : rows) {
        const std::string path = "unit/res/" + std::to_string(&row - rows) + ".EXE", url = "/-/cut=100000," + row.how + "/" + path;
        WriteBytes(server + path.substr(9), Pattern(300000));
        dlg.m_strUpdateUrl = ServerUrl(url.substr(1));
        EXPECT_FALSE(dlg.Download());  // cut after 100000 bytes
        EXPECT_TRUE(ReadBytes(partial) == Pattern(100000)) << url;
        if (row.bChanged)
            WriteBytes(server + path.substr(9), Pattern(200000));
        progress.positions.clear();
        EXPECT_EQ(dlg.Download(), row.answers.size() == 2) << url;
        EXPECT_TRUE(row.answers.size() < 3 || (!Exists(partial) && dlg.Download())) << url;  // a third starts over
        EXPECT_TRUE(TreeOf(root, FALSE) == (Files{{"UPD350_12.EXE", Pattern(row.bChanged ? 200000 : 300000)}})) << url;
        EXPECT_EQ(Answers(url), row.answers) << url;
        EXPECT_EQ(progress.positions.at(1), row.answers.back().back() == '6' ? 33 : 0) << url;  // from the partial's end
    }
    EXPECT_EQ(boxes.Texts(), Texts(6, "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました"));
    CFileHandle holder(::CreateFileA(dlg.m_strUpdateFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0));
    dlg.m_strUpdateUrl = ServerUrl("-/etag/unit/res/0.EXE");
    EXPECT_FALSE(dlg.Download());
    EXPECT_EQ(boxes.Texts().back(), "更新ﾌｧｲﾙの作成に失敗しました");
    EXPECT_EQ(Answers("/-/etag/unit/res/0.EXE"), Texts{});
}

// A download is too slow once a whole minute brought fewer than 60 KiB, however the bytes came; never earlier.
TEST(SpeedFloor, AMinuteUnderOneKibASecondFails) {
    const std::pair<std::function<ULONGLONG(ULONGLONG)>, ULONGLONG> rows[] = {  // bytes by a time, first failure
        {[](ULONGLONG) { return 0ULL; }, 60000},
        {[](ULONGLONG t) { return t * 1000 / 1000; }, 60000},          // 1000 bytes a second
        {[](ULONGLONG t) { return t * 1030 / 1000; }, 0},              // 1030 bytes a second: never
        {[](ULONGLONG t) { return t < 1000 ? 0ULL : 61440ULL; }, 61000},  // one burst, then nothing
        {[](ULONGLONG t) { return t < 90000 ? t * 5 : 450000 + (t - 90000) / 10; }, 139000},  // fast, then a trickle
    };
    for (const auto& [done, failsAt] : rows) {
        CSpeedFloor floor(0, 0);
        ULONGLONG t = 500;
        while (t <= 240000 && !floor.TooSlow(t, done(t)))
            t += 500;
        EXPECT_EQ(t > 240000 ? 0 : t, failsAt) << &done - &rows[0].first;
    }
}

// The information pane names the text it could not read.
TEST_F(Update, InformationPaneNamesWhatItCouldNotRead) {
    dlg.m_strVerUrl = ServerUrl("unit/none/Ver3.5");
    EXPECT_FALSE(dlg.DispInfo(FALSE));
    EXPECT_FALSE(dlg.DispInfo(TRUE));  // generation 1 has no log
    EXPECT_EQ(Shown(boxes), (Texts{Box("CZynUpdateDlg::DispInfo", MB_OK, "更新内容URL[" + dlg.m_strVerUrl + "]を開けませんでした\n"),
                                   Box("CZynUpdateDlg::DispInfo", MB_OK, "復元ﾛｸﾞﾌｧｲﾙ[" + Log(1) + "]を開けませんでした\n")}));
}

// The progress dialog shows only the names of the files the DLL reports.
TEST_F(Update, UnzipLinesShowOnlyTheFileNames) {
    CProgressDlg dialog;
    auto print = [](std::string text) {
        return CZynUpdateDlg::OnUnzipPrint(&text[0], static_cast<unsigned long>(text.size()));
    };
    g_pProgressDlg = dialog.Create(nullptr) ? &dialog : nullptr;
    // Info-ZIP's own lines: either slash, padding, a line end on its own; all bytes are taken.
    progress.pause = true;
    EXPECT_EQ(print("  inflating: D:\\work\\CAD\\sub\\a.dll"), 34);
    EXPECT_EQ(print("  inflating: C:/Temp/CAD/表示/表.txt   "), 39);
    EXPECT_EQ(print("\n"), 1);
    g_pProgressDlg = nullptr;
    EXPECT_EQ(progress.messages, (Texts{"a.dll", "表.txt"}));
}

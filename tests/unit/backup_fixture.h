#pragma once
// Shared by the replacement, restore and deletion tests: a CAD tree with its work
// folder and program folder on drive D:, a windowless main dialog working on it, and
// a watch on the progress dialogs that the operations show.
#include <gtest/gtest.h>
#include <io.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "RixPath.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

// Records what the progress dialogs of this thread show (captions and message
// lines, in order) and, when asked, clicks Cancel for real once the bar reaches a
// position: the click is posted, so the operation sees it at its next CheckCancel.
class CProgressWatch {
public:
    CProgressWatch() {
        s_watch = this;
        m_hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, Hook, nullptr, ::GetCurrentThreadId());
    }
    ~CProgressWatch() {
        ::UnhookWindowsHookEx(m_hook);
        s_watch = nullptr;
    }
    CProgressWatch(const CProgressWatch&) = delete;
    CProgressWatch& operator=(const CProgressWatch&) = delete;

    void CancelAtPosition(int position) { m_cancelAt = position; }
    // Called with each new message line, while the operation waits for it.
    void OnMessage(std::function<void(const std::string&)> callback) { m_onMessage = std::move(callback); }

    // The caption of the last progress dialog, as its operation set it.
    std::string Caption() const { return captions.empty() ? std::string() : captions.back(); }

    std::vector<std::string> captions;
    std::vector<std::string> messages;

private:
    static std::string TextOf(HWND window) {
        char text[1024] = "";
        ::GetWindowTextA(window, text, sizeof(text));
        return text;
    }
    static bool IsProgressDialog(HWND window) { return window && ::GetDlgItem(window, IDC_PROGRESS_BAR) != nullptr; }

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && s_watch)
            s_watch->Seen(call->hwnd, call->message, call->wParam);
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void Seen(HWND window, UINT message, WPARAM wParam) {
        HWND parent = ::GetParent(window);
        if (message == WM_SETTEXT && IsProgressDialog(window)) {
            captions.push_back(TextOf(window));
        } else if (message == WM_SETTEXT && IsProgressDialog(parent) &&
                   ::GetDlgCtrlID(window) == IDC_PROGRESS_MESSAGE) {
            messages.push_back(TextOf(window));
            if (m_onMessage)
                m_onMessage(messages.back());
        } else if (message == PBM_SETPOS && static_cast<int>(wParam) == m_cancelAt && IsProgressDialog(parent)) {
            m_cancelAt = -1;
            ::PostMessageA(::GetDlgItem(parent, IDCANCEL), BM_CLICK, 0, 0);
        }
    }

    static inline CProgressWatch* s_watch = nullptr;
    HHOOK m_hook;
    int m_cancelAt = -1;
    std::function<void(const std::string&)> m_onMessage;
};

// A CAD installation in D:\unit\<test>\CAD\, its update extracted into Work\ (the
// work folder maps onto the scratch folder), and the program folder Prog\ whose help
// file path names the rollback logs Prog\ZynUpdate.LOGn.
class BackupTest : public testing::Test {
protected:
    BackupTest() : dlg(IDD_ZYNUPDATE_DIALOG, nullptr) {}

    void SetUp() override {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        root = ScratchFolder(std::string(test->test_suite_name()) + "." + test->name());
        ::CreateDirectoryA((root + "Prog").c_str(), nullptr);
        AfxGetApp()->SetHelpFilePath(root + "Prog\\ZynUpdate.chm");
        dlg.m_pApp->m_nMode = 0;
        dlg.m_strWorkDir = root + "Work\\";
        dlg.m_strCadDir = root;
    }
    void TearDown() override { dlg.m_pApp->m_nMode = 0; }

    // rel is relative to the scratch folder, for example "CAD\\bin\\a.dll".
    std::string Installed(const std::string& rel) const { return root + rel; }
    std::string Log(int n) const { return root + "Prog\\ZynUpdate.LOG" + std::to_string(n); }

    void Install(const std::string& rel, const std::string& bytes) { Put(Installed(rel), bytes); }
    // Extracts one file of the update into the work folder and lists it.
    void Extract(const std::string& rel, const std::string& bytes) {
        Put(dlg.m_strWorkDir + rel, bytes);
        dlg.m_files.push_back(dlg.m_strWorkDir + rel);
    }
    // Runs Replace as the update sequence does, on a new generation.
    BOOL Update() {
        ++dlg.m_nLogCount;
        BOOL result = dlg.Replace(FALSE);
        if (!result)
            --dlg.m_nLogCount;
        return result;
    }
    // A fresh update: the work folder emptied and the file list cleared.
    void NewUpdate() {
        RemoveTree(dlg.m_strWorkDir);
        dlg.m_files.clear();
    }

    static void Put(const std::string& path, const std::string& bytes) {
        std::string folder = path;
        RixMakeFolder(RixSetPathParts(folder, nullptr, nullptr, "", ""));
        ASSERT_TRUE(WriteBytes(path, bytes)) << path;
    }

    // Every file of the CAD tree (relative name -> bytes).
    std::map<std::string, std::string> Tree() const {
        CFindDataList found;
        RixFindFiles(root + "CAD", "*", found, TRUE);
        std::map<std::string, std::string> tree;
        for (const WIN32_FIND_DATAA& file : found)
            tree[std::string(file.cFileName).substr(root.size())] = ReadBytes(file.cFileName);
        return tree;
    }

    std::string root;
    CZynUpdateDlg dlg;
};

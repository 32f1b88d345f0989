#pragma once
// Shared by the replacement, restore and deletion tests: a CAD tree with its work
// folder and program folder on drive D:, and a windowless main dialog working on it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "RixPath.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "progress_watch.h"
#include "resource.h"

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

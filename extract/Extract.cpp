#include <memory>

#include "ProgressDlg.h"
#include "RixPath.h"
#include "RixUnZip32.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

int CZynUpdateDlg::Extract() {
    RixDeleteFolder(m_strWorkDir);
    CRixUnZip32 unzip;
    {
        // The DLL gives no other way to reach the dialog than this process-wide pointer.
        auto progress = std::make_unique<CProgressDlg>();
        g_pProgressDlg = progress.get();
        progress->Create(this);
        progress->EnableCancel(FALSE);
        progress->SetWindowText("解凍中");
        m_pApp->BeginWaitCursor();
        unzip.Unzip(m_strWorkDir, m_strUpdateFile, OnUnzipPrint, nullptr);
        m_pApp->EndWaitCursor();
        g_pProgressDlg = nullptr;
    }

    CFindDataList found;
    int count = RixFindFiles(m_strWorkDir, "*.*", found, TRUE);
    // An error of the DLL (a damaged or truncated archive, a CRC error, a full disk) leaves
    // a partial update that must never be installed; a warning is no failure.
    int result = unzip.GetResult();
    if (count < 1 || (result != PK_OK && result != PK_WARN)) {
        MessageBox("展開された更新ﾌｧｲﾙを取得できませんでした", "CZynUpdateDlg::Extract", MB_OK);
        return 0;
    }
    m_files.clear();
    for (const WIN32_FIND_DATAA& file : found)
        m_files.push_back(file.cFileName);
    return 1;
}

int WINAPI CZynUpdateDlg::OnUnzipPrint(LPSTR text, unsigned long length) {
    // A callback of the DLL: nothing may be thrown back into it.
    if (!g_pProgressDlg || !g_pProgressDlg->IsDue())
        return static_cast<int>(length);
    try {
        std::string line(text ? text : "");
        const std::string inflating = "inflating: ";
        for (size_t at = line.find(inflating); at != std::string::npos; at = line.find(inflating, at))
            line.erase(at, inflating.size());
        // Texts may end in padding or a line end; a text that is nothing else is no name.
        line.erase(line.find_last_not_of(" \t\r\n") + 1);
        if (line.empty())
            return static_cast<int>(length);
        RixSetPathParts(line, "", "", nullptr, nullptr);
        g_pProgressDlg->SetMessage(line);
    } catch (...) {
    }
    return static_cast<int>(length);
}

#include <algorithm>
#include <memory>

#include "ProgressDlg.h"
#include "RixPath.h"
#include "RixUnZip32.h"
#include "VersionText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
// Whether the DLL's result blames the archive, rather than this machine (memory, disk, rights) or the DLL.
bool IsArchiveFault(int result) {
    return result == PK_ERR || result == PK_BADERR || result == PK_NOZIP || result == PK_BOMB;
}
}  // namespace

int CZynUpdateDlg::Extract() {
    m_bArchiveAtFault = FALSE;
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
        // An archive that extracts without error to no file holds nothing to install.
        m_bArchiveAtFault = IsArchiveFault(result) || (count < 1 && (result == PK_OK || result == PK_WARN));
        MessageBox("展開された更新ﾌｧｲﾙを取得できませんでした", "CZynUpdateDlg::Extract", MB_OK);
        return 0;
    }
    m_files.clear();
    for (const WIN32_FIND_DATAA& file : found)
        m_files.push_back(file.cFileName);
    // In the same order on every machine, whatever order the file system lists them in.
    std::sort(m_files.begin(), m_files.end());
    // The Ver file goes in last: an update cut short, which an installation without backups cannot undo,
    // then still names the revision before it and is offered again.
    std::stable_partition(m_files.begin(), m_files.end(), [this](const std::string& file) {
        std::string name = InstalledPath(file), folder = name;
        RixSetPathParts(folder, nullptr, nullptr, "", "");
        return !(IsVerFileName(RixSetPathParts(name, "", "", nullptr, nullptr)) &&
                 ::lstrcmpiA(folder.c_str(), m_strCadFolder.c_str()) == 0);
    });
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

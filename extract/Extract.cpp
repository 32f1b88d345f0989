#include "Extraction.h"

#include <algorithm>
#include <memory>

#include "RixPath.h"
#include "RixUnZip32.h"
#include "VersionText.h"

namespace {
// Whether the DLL's result blames the archive, rather than this machine (memory, disk, rights) or the DLL.
bool IsArchiveFault(int result) {
    return result == PK_ERR || result == PK_BADERR || result == PK_NOZIP || result == PK_BOMB;
}

// The files that the DLL reports as it extracts them, each with a handle taken from the DLL before it let go,
// so that nothing else can have written to it since.
struct CExtractionRun {
    const CRixUnZip32& unzip;
    const std::string& folder;
    std::vector<CExtractedFile> files;
};
// The DLL gives its callbacks no other way in than a process-wide pointer.
CExtractionRun* g_pExtraction = nullptr;

int WINAPI OnUnzipExtracted(LPCSTR path, unsigned long) {
    // A callback of the DLL: nothing may be thrown back into it. A file that cannot be held stops it.
    try {
        CExtractionRun& extraction = *g_pExtraction;
        const std::string name = path ? path : "";
        CFileHandle file = extraction.unzip.TakeExtractedFile();
        if (!file || name.size() <= extraction.folder.size() ||
            name.compare(0, extraction.folder.size(), extraction.folder) != 0)
            return 1;
        extraction.files.push_back({name, std::move(file)});
        return 0;
    } catch (...) {
        return 1;
    }
}
}  // namespace

CProgress* g_pProgressDlg = nullptr;

std::string InstalledPath(const std::string& file, const std::string& workDir, const std::string& cadDir) {
    if (workDir.empty())
        return file;
    std::string path = file;
    for (size_t at = path.find(workDir); at != std::string::npos; at = path.find(workDir, at + cadDir.size()))
        path.replace(at, workDir.size(), cadDir);
    return path;
}

int CExtraction::Unpack(const CUpdateFile& archive, std::string* pDeltaFailure) {
    m_work.m_bArchiveAtFault = FALSE;
    if (!ClearWorkFolder())
        return 0;
    CRixUnZip32 unzip;
    CExtractionRun extraction{unzip, m_settings.m_strWorkDir, {}};
    {
        // The DLL gives no other way to reach the progress than this process-wide pointer.
        std::unique_ptr<CProgress> progress = m_person.StartProgress();
        g_pProgressDlg = progress.get();
        g_pExtraction = &extraction;
        progress->EnableCancel(FALSE);
        progress->SetCaption("解凍中");
        m_person.ShowBusy(TRUE);
        unzip.Unzip(m_settings.m_strWorkDir, archive.m_strUpdateFile, OnUnzipPrint, nullptr, OnUnzipExtracted);
        m_person.ShowBusy(FALSE);
        g_pExtraction = nullptr;
        g_pProgressDlg = nullptr;
    }

    // Only what the DLL extracted is installed, never whatever else the folder may hold. An error of the
    // DLL (a damaged or truncated archive, a CRC error, a full disk) leaves a partial update that must never
    // be installed; a warning is no failure.
    std::vector<CExtractedFile>& files = extraction.files;
    const int result = unzip.GetResult();
    const char failed[] = "展開された更新ﾌｧｲﾙを取得できませんでした";
    const bool unpacked = !files.empty() && (result == PK_OK || result == PK_WARN);
    if (!unpacked && pDeltaFailure) {
        *pDeltaFailure = failed;
        return 0;
    }
    if (!unpacked) {
        // An archive that extracts without error to no file holds nothing to install.
        m_work.m_bArchiveAtFault = IsArchiveFault(result) || (files.empty() && (result == PK_OK || result == PK_WARN));
        const CCause cause = m_work.m_bArchiveAtFault ? CCause::kArchive : result == PK_DISK ? CCause::kDiskFull : CCause::kOther;
        m_person.Show(failed, "CZynUpdateDlg::Extract", MB_OK, CQuestion::kNone, cause);
        return 0;
    }
    if (pDeltaFailure && !MakeFromDeltas(files, *pDeltaFailure))
        return 0;
    // In the same order on every machine, whatever order the archive lists them in.
    std::sort(files.begin(), files.end(),
              [](const CExtractedFile& a, const CExtractedFile& b) { return a.path < b.path; });
    // The Ver file goes in last: an update cut short, which an installation without backups cannot undo,
    // then still names the revision before it and is offered again.
    std::stable_partition(files.begin(), files.end(), [this](const CExtractedFile& file) {
        std::string name = InstalledPath(file.path), folder = name;
        RixSetPathParts(folder, nullptr, nullptr, "", "");
        return !(IsVerFileName(RixSetPathParts(name, "", "", nullptr, nullptr)) &&
                 ::lstrcmpiA(folder.c_str(), m_installation.m_strCadFolder.c_str()) == 0);
    });
    m_work.m_files.clear();
    for (CExtractedFile& file : files) {
        m_work.m_files.push_back(file.path);
        m_work.m_extracted.push_back(std::move(file.file));
    }
    return 1;
}

int WINAPI CExtraction::OnUnzipPrint(LPSTR text, unsigned long length) {
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

// Times the updater's own operations for scripts/bench.sh, on what the script laid out:
//   zynbench <update URL> <update file> <work folder> <help file> <phase>...
// The installation is mirrored from the drive root of the work folder, as the program
// itself assumes; the rollback logs go beside the help file. Phases run in the order
// given: download, extract, inuse, replace, restore. Each prints "<phase> <seconds> <ok>";
// a message box is printed and answered as a user who goes on would.
// Two more phases time what Wine itself takes for the same files, the floor under the
// program's own phases: bare-open opens each installed file exclusively and closes it;
// bare-create creates each extracted file again under <work folder>\..\bare, with its
// size in zeros and its time, as the extraction does.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "MessageBox.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
int AnswerBox(HWND, const char* text, const char* caption, UINT type) {
    std::printf("box %s: %s\n", caption, text);
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

BOOL OpenEach(const CZynUpdateDlg& dlg) {
    for (const std::string& file : dlg.m_files) {
        CFileHandle installed(::CreateFileA(dlg.InstalledPath(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!installed)
            return FALSE;
    }
    return TRUE;
}

BOOL CreateEach(const CZynUpdateDlg& dlg, const std::vector<DWORD>& sizes) {
    std::string root = dlg.m_strWorkDir.substr(0, dlg.m_strWorkDir.find_last_of('\\', dlg.m_strWorkDir.size() - 2));
    root += "\\bare\\";
    std::vector<char> zeros;
    std::string lastFolder;
    const FILETIME time = {0, 0x01d00000};
    for (size_t i = 0; i < dlg.m_files.size(); ++i) {
        const std::string path = root + dlg.m_files[i].substr(dlg.m_strWorkDir.size());
        const std::string folder = path.substr(0, path.find_last_of('\\'));
        if (folder != lastFolder && !RixMakeFolder(folder))
            return FALSE;
        lastFolder = folder;
        zeros.resize(sizes[i]);
        CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), zeros.data(), sizes[i], &written, nullptr) ||
            !::SetFileTime(file.get(), nullptr, nullptr, &time))
            return FALSE;
    }
    return TRUE;
}

BOOL RunPhase(CZynUpdateDlg& dlg, const std::string& phase, const std::vector<DWORD>& sizes) {
    if (phase == "download")
        return dlg.Download();
    if (phase == "extract")
        return dlg.Extract() != 0;
    if (phase == "inuse")
        return dlg.CheckFilesInUse(dlg.m_files) != 0;
    if (phase == "bare-open")
        return OpenEach(dlg);
    if (phase == "bare-create")
        return CreateEach(dlg, sizes);
    dlg.CountRollbackLogs();
    if (phase == "replace") {
        ++dlg.m_nLogCount;  // a new generation, as the update sequence makes
        return dlg.Replace(FALSE);
    }
    if (phase == "restore")
        return dlg.Restore();
    std::printf("unknown phase %s\n", phase.c_str());
    return FALSE;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: zynbench <url> <update file> <work folder> <help file> <phase>...\n");
        return 2;
    }
    CZynUpdateApp app;
    app.CWinApp::InitInstance();
    SetMessageBoxHook(AnswerBox);
    app.SetHelpFilePath(argv[4]);
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_DIALOG, nullptr);
    dlg.m_strUpdateUrl = argv[1];
    dlg.m_strUpdateFile = argv[2];
    dlg.m_strWorkDir = argv[3];
    dlg.m_strCadDir = dlg.m_strCadFolder = dlg.m_strWorkDir.substr(0, 3);

    std::vector<DWORD> sizes;  // of the extracted files, for bare-create
    int failed = 0;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    for (int i = 5; i < argc; ++i) {
        // A phase after extraction, run alone, starts from the extracted tree: the list
        // that the extraction leaves in memory is made here, outside the time, with the
        // sizes that bare-create needs as well.
        const std::string phase = argv[i];
        const bool listed = !dlg.m_files.empty() && (phase != "bare-create" || sizes.size() == dlg.m_files.size());
        if (!listed && phase != "download" && phase != "extract" && phase != "restore") {
            dlg.m_files.clear();
            sizes.clear();
            CFindDataList found;
            RixFindFiles(dlg.m_strWorkDir, "*.*", found, TRUE);
            for (const WIN32_FIND_DATAA& file : found) {
                dlg.m_files.push_back(file.cFileName);
                sizes.push_back(file.nFileSizeLow);
            }
        }
        ::QueryPerformanceCounter(&start);
        BOOL ok = RunPhase(dlg, phase, sizes);
        ::QueryPerformanceCounter(&end);
        std::printf("%s %.4f %d\n", argv[i], double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart), ok);
        std::fflush(stdout);
        failed += !ok;
    }
    return failed;
}

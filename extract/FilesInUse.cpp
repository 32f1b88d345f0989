#include "Handle.h"
#include "MessageBox.h"
#include "ProgressDlg.h"
#include "RixModuleUsers.h"
#include "RixPath.h"
#include "ZynUpdateDlg.h"

namespace {
// Only an exclusive open proves that no program holds the file; a new file cannot be in
// use. This program's own image is held by this process, which puts it aside to replace
// it: only another copy counts.
bool IsFileInUse(const std::string& path, const std::string& self) {
    // Lengths first: a comparison by the locale, for each of thousands of files, adds up.
    if (path.size() == self.size() && ::lstrcmpiA(path.c_str(), self.c_str()) == 0) {
        std::vector<std::string> users;
        return RixGetModuleUsers(path, users) > 0;
    }
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = ::GetLastError();
    return !file && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool IsDll(std::string path) {
    RixSetPathParts(path, "", "", "", nullptr);
    return ::lstrcmpiA(path.c_str(), ".dll") == 0;
}
}  // namespace

int CZynUpdateDlg::CheckFilesInUse(std::vector<std::string> files) {
    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, static_cast<int>(files.size()));
    progress.EnableCancel(FALSE);
    progress.SetWindowText("ﾌｧｲﾙの使用ﾁｪｯｸ中");
    std::string self;
    RixGetModulePath(self, TRUE);
    for (;;) {
        std::vector<std::string> blocked;
        for (size_t i = 0; i < files.size(); ++i) {
            if (progress.IsDue() || i + 1 == files.size())
                progress.SetPos(static_cast<int>(i + 1));
            std::string installed = InstalledPath(files[i]);
            if (IsFileInUse(installed, self))
                blocked.push_back(installed);
        }
        if (blocked.empty())
            return 1;

        std::string text = "下記ﾌｧｲﾙが使用されています\n";
        text += "ｱﾌﾟﾘｹｰｼｮﾝを終了してから再試行ﾎﾞﾀﾝをｸﾘｯｸしてください\n";
        for (const std::string& path : blocked) {
            text += path;
            if (IsDll(path)) {
                std::vector<std::string> users;
                RixGetModuleUsers(path, users);
                text += " (使用先:";
                for (size_t i = 0; i < users.size(); ++i)
                    text += (i > 0 ? " " : "") + users[i];
                text += ")";
            }
            text += "\n";
        }
        if (AfxMessageBox(text, MB_RETRYCANCEL) != IDRETRY)
            return 0;
    }
}

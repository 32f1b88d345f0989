#include "Extraction.h"

#include "Handle.h"
#include "RixModuleUsers.h"
#include "RixPath.h"

namespace {
// What stands in the way of replacing an installed file.
enum Obstacle { kNone, kInUse, kFolder, kNoRights };

// Only an exclusive open proves that no program holds the file; a new file cannot be in
// use. This program's own image is held by this process, which puts it aside to replace
// it: only another copy counts. A refused open is no program's doing: a folder where the
// update has a file, a read-only file, or a file this user may not change.
Obstacle FindObstacle(const std::string& path, const std::string& self) {
    // Lengths first: a comparison by the locale, for each of thousands of files, adds up.
    if (path.size() == self.size() && ::lstrcmpiA(path.c_str(), self.c_str()) == 0) {
        std::vector<std::string> users;
        return RixGetModuleUsers(path, users) > 0 ? kInUse : kNone;
    }
    auto openAlone = [&path](DWORD access) {
        CFileHandle file(
            ::CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file ? ERROR_SUCCESS : ::GetLastError();
    };
    DWORD error = openAlone(GENERIC_READ | GENERIC_WRITE);
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return kNone;
    if (error != ERROR_ACCESS_DENIED)
        return kInUse;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return kFolder;
    // A read-only file is replaced with its attribute lifted: it is held only when an open as the rename
    // over it takes one, which writes nothing, is refused for sharing.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        error = openAlone(GENERIC_READ | DELETE);
    return error == ERROR_SUCCESS ? kNone : error == ERROR_ACCESS_DENIED ? kNoRights : kInUse;
}

bool IsDll(std::string path) {
    RixSetPathParts(path, "", "", "", nullptr);
    return ::lstrcmpiA(path.c_str(), ".dll") == 0;
}

std::string Lines(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths)
        text += path + "\n";
    return text;
}
}  // namespace

int CExtraction::CheckFilesInUse(std::vector<std::string> files) {
    std::unique_ptr<CProgress> progress = m_person.StartProgress();
    progress->SetRange(0, static_cast<int>(files.size()));
    progress->EnableCancel(FALSE);
    progress->SetCaption("ﾌｧｲﾙの使用ﾁｪｯｸ中");
    std::string self;
    RixGetModulePath(self, TRUE);
    for (;;) {
        std::vector<std::string> blocked, folders, denied;
        for (size_t i = 0; i < files.size(); ++i) {
            if (progress->IsDue() || i + 1 == files.size())
                progress->SetPos(static_cast<int>(i + 1));
            std::string installed = InstalledPath(files[i]);
            switch (FindObstacle(installed, self)) {
            case kInUse:
                blocked.push_back(installed);
                break;
            case kFolder:
                folders.push_back(installed);
                break;
            case kNoRights:
                denied.push_back(installed);
                break;
            case kNone:
                break;
            }
        }
        // What no Retry can mend is said as what it is, and ends the check.
        if (!folders.empty() || !denied.empty()) {
            std::string text;
            if (!folders.empty())
                text += "下記はｲﾝｽﾄｰﾙ先ではﾌｫﾙﾀﾞのため、更新ﾌｧｲﾙで置き換えられません\n" + Lines(folders);
            if (!denied.empty())
                text += "下記ﾌｧｲﾙを書き換える権限がありません\n" + Lines(denied);
            m_person.Show(text, "", MB_OK | MB_ICONSTOP, CQuestion::kNone,
                          denied.empty() ? CCause::kOther : CCause::kNoRights);
            return 0;
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
        if (m_person.Show(text, "", MB_RETRYCANCEL, CQuestion::kFilesInUse, CCause::kFilesInUse) != IDRETRY)
            return 0;
    }
}

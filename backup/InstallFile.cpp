#include "InstallFile.h"

#include "Handle.h"
#include "RixPath.h"

namespace {
bool FlushToDisk(const std::string& path) {
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    return file && ::FlushFileBuffers(file.get());
}

bool IsOwnImage(const std::string& path) {
    std::string self;
    RixGetModulePath(self, TRUE);
    return ::lstrcmpiA(self.c_str(), path.c_str()) == 0;
}

bool MoveOver(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Windows replaces no image that a process runs, but lets it be renamed within its folder.
bool MoveOverOwnImage(const std::string& temp, const std::string& target) {
    const std::string aside = target + kAsideSuffix;
    if (!IsOwnImage(target) || !MoveOver(target, aside))
        return false;
    if (MoveOver(temp, target))
        return true;
    DWORD error = ::GetLastError();
    MoveOver(aside, target);
    ::SetLastError(error);
    return false;
}
}  // namespace

BOOL InstallFile(const std::string& source, const std::string& target) {
    const std::string temp = target + kInstallTempSuffix;
    if (::CopyFileA(source.c_str(), temp.c_str(), FALSE) && FlushToDisk(temp) &&
        (MoveOver(temp, target) || MoveOverOwnImage(temp, target)))
        return TRUE;
    DWORD error = ::GetLastError();
    ::DeleteFileA(temp.c_str());
    ::SetLastError(error);
    return FALSE;
}

std::string FailureCause(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? "\nﾃﾞｨｽｸの空き容量が不足しています" : "";
}

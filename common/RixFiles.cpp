#include "RixFiles.h"

namespace {
// A virus scanner opens a file that was just written for a moment; a rename or deletion that meets it
// is tried again for this long before it counts as failed.
const DWORD kScannerPatienceMs = 2000;
const DWORD kScannerPauseMs = 50;

// Lifts the read-only attribute of a name for its deletion, and gives the attribute back to the data
// through a handle of its own: other names of the same data keep it.
class CReadOnlyLift {
public:
    explicit CReadOnlyLift(const std::string& path) {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
            return;
        m_file.reset(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (m_file && SetAttributes(attributes & ~FILE_ATTRIBUTE_READONLY))
            m_nAttributes = attributes;
    }
    ~CReadOnlyLift() {
        const DWORD error = ::GetLastError();
        if (m_nAttributes != 0)
            SetAttributes(m_nAttributes);
        ::SetLastError(error);
    }
    CReadOnlyLift(const CReadOnlyLift&) = delete;
    CReadOnlyLift& operator=(const CReadOnlyLift&) = delete;

private:
    bool SetAttributes(DWORD attributes) {
        FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
        basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
        return ::SetFileInformationByHandle(m_file.get(), FileBasicInfo, &basic, sizeof(basic)) != FALSE;
    }
    CFileHandle m_file;
    DWORD m_nAttributes = 0;
};
// Runs attempt until it succeeds, again while it fails with a sharing or lock violation, for at most
// about two seconds; the system's error of the last attempt is kept.
bool RixPatiently(const std::function<bool()>& attempt) {
    const ULONGLONG giveUp = ::GetTickCount64() + kScannerPatienceMs;
    for (;;) {
        if (attempt())
            return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || ::GetTickCount64() >= giveUp) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(kScannerPauseMs);
    }
}

// A read-only file cannot be renamed over: its attribute goes for the rename, by its name, as no handle of
// it may be open then, and comes back unless Done() says the rename went through. The data it named goes
// with the rename.
class CReadOnlyTarget {
public:
    explicit CReadOnlyTarget(const std::string& path);
    ~CReadOnlyTarget();
    void Done() { m_nAttributes = 0; }
    CReadOnlyTarget(const CReadOnlyTarget&) = delete;
    CReadOnlyTarget& operator=(const CReadOnlyTarget&) = delete;

private:
    std::string m_path;
    DWORD m_nAttributes = 0;
};

CReadOnlyTarget::CReadOnlyTarget(const std::string& path) : m_path(path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        m_nAttributes = attributes;
}

CReadOnlyTarget::~CReadOnlyTarget() {
    const DWORD error = ::GetLastError();
    if (m_nAttributes != 0)
        ::SetFileAttributesA(m_path.c_str(), m_nAttributes);
    ::SetLastError(error);
}
}  // namespace

BOOL RixRenameOver(const std::string& to, const std::function<bool()>& rename) {
    CReadOnlyTarget target(to);
    if (!RixPatiently(rename))
        return FALSE;
    target.Done();
    return TRUE;
}

BOOL RixMoveFile(const std::string& from, const std::string& to) {
    return RixRenameOver(to, [&] {
        return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
}

BOOL RixDeleteFile(const std::string& path) {
    auto gone = [&path] {
        if (::DeleteFileA(path.c_str()))
            return true;
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    };
    if (RixPatiently(gone))
        return TRUE;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return FALSE;
    CReadOnlyLift lift(path);
    return RixPatiently(gone);
}


CCause CauseOfError(DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return CCause::kDiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return CCause::kNoRights;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return CCause::kFilesInUse;
    default:
        return CCause::kOther;
    }
}

int ShowFileFailure(CPerson& person, const std::string& text, const std::string& caption, DWORD error) {
    const bool bDiskFull = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    return person.Show(bDiskFull ? text + "\nﾃﾞｨｽｸの空き容量が不足しています" : text, caption, MB_OK, CQuestion::kNone,
                       CauseOfError(error));
}

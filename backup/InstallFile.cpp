#include "InstallFile.h"

#include <winternl.h>

#include <vector>

#include "RixPath.h"

namespace {
const DWORD kCopyBlock = 256 * 1024;
// The placed file is written, flushed and renamed through one handle.
const DWORD kPlacedAccess = GENERIC_WRITE | DELETE;

// A virus scanner opens a file that was just written for a moment; a rename or deletion that meets it
// is tried again for this long before it counts as failed.
const DWORD kScannerPatienceMs = 2000;
const DWORD kScannerPauseMs = 50;

template <class Attempt>
bool Patiently(Attempt attempt) {
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

// A read-only file cannot be renamed over: its attribute goes for the rename, by its name, as no handle of
// it may be open then, and comes back only if the rename fails. The data it named goes with the rename;
// no backup shares it, as a read-only file is backed up by a copy.
class CReadOnlyTarget {
public:
    explicit CReadOnlyTarget(const std::string& path) : m_path(path) {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
            m_nAttributes = attributes;
    }
    ~CReadOnlyTarget() {
        const DWORD error = ::GetLastError();
        if (m_nAttributes != 0)
            ::SetFileAttributesA(m_path.c_str(), m_nAttributes);
        ::SetLastError(error);
    }
    void Done() { m_nAttributes = 0; }
    CReadOnlyTarget(const CReadOnlyTarget&) = delete;
    CReadOnlyTarget& operator=(const CReadOnlyTarget&) = delete;

private:
    std::string m_path;
    DWORD m_nAttributes = 0;
};

bool MoveOver(const std::string& from, const std::string& to) {
    CReadOnlyTarget target(to);
    if (!Patiently([&] {
            return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        }))
        return false;
    target.Done();
    return true;
}

// A new name for an open file, as a rename or a second name takes it: the full path behind
// the prefix of the system's own layer, which every layer passes on unchanged. Empty when
// the name cannot be converted.
template <class Information>
std::vector<BYTE> NameInformation(const std::string& name, BOOLEAN replace) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return {};
    const std::wstring prefix = L"\\??\\";
    std::vector<BYTE> buffer(sizeof(Information) + (prefix.size() + length) * sizeof(WCHAR));
    auto* information = reinterpret_cast<Information*>(buffer.data());
    information->ReplaceIfExists = replace;
    prefix.copy(information->FileName, prefix.size());
    ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, information->FileName + prefix.size(), length);
    information->FileNameLength = static_cast<DWORD>((prefix.size() + length - 1) * sizeof(WCHAR));
    return buffer;
}

// Named anew through its handle, the file need not be found again by its path, which costs
// Wine a walk of every parent folder. A second name is given that way only by the system's
// own layer.
bool MoveOpenFileOver(HANDLE file, const std::string& to) {
    std::vector<BYTE> rename = NameInformation<FILE_RENAME_INFO>(to, TRUE);
    if (rename.empty())
        return false;
    CReadOnlyTarget target(to);
    if (!Patiently([&] {
            return ::SetFileInformationByHandle(file, FileRenameInfo, rename.data(), static_cast<DWORD>(rename.size()));
        }))
        return false;
    target.Done();
    return true;
}

bool LinkOpenFile(HANDLE file, const std::string& name) {
    std::vector<BYTE> link = NameInformation<FILE_LINK_INFORMATION>(name, FALSE);
    IO_STATUS_BLOCK status;
    return !link.empty() &&
           ::NtSetInformationFile(file, &status, link.data(), static_cast<ULONG>(link.size()), FileLinkInformation) >= 0;
}

// Windows replaces no image that a process runs, but lets it be renamed within its folder. The new file
// follows through the handle already open, so that only the two calls lie between the renames.
bool PutOwnImageInPlace(CFileHandle& placed, const std::string& target) {
    const std::string aside = target + kAsideSuffix;
    if (!MoveOver(target, aside))
        return false;
    if (MoveOpenFileOver(placed.get(), target))
        return true;
    placed.reset();
    if (MoveOver(target + kInstallTempSuffix, target))
        return true;
    const DWORD error = ::GetLastError();
    MoveOver(aside, target);
    ::SetLastError(error);
    return false;
}

// A write that the disk cuts short is written on until the disk says why it cannot.
bool WriteAll(HANDLE file, const char* data, DWORD size) {
    for (DWORD written = 0; size > 0; data += written, size -= written)
        if (!::WriteFile(file, data, size, &written, nullptr) || written == 0)
            return false;
    return true;
}

// A file of this name that did not exist; one a kill left is replaced.
CFileHandle CreateNew(const std::string& path, DWORD attributes) {
    CFileHandle file(::CreateFileA(path.c_str(), kPlacedAccess, 0, nullptr, CREATE_NEW, attributes, nullptr));
    if (!file && ::GetLastError() == ERROR_FILE_EXISTS && DeleteName(path))
        file.reset(::CreateFileA(path.c_str(), kPlacedAccess, 0, nullptr, CREATE_NEW, attributes, nullptr));
    return file;
}

// What CopyFile writes (the content, the last-write time, the attributes) into a new file,
// which stays open for its flush.
CFileHandle CopyToNew(const std::string& source, const std::string& copy, CFileHandle from = CFileHandle()) {
    if (!from)
        from.reset(::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // Asked one by one: Wine answers the question for everything at once by working out
    // the file's path again.
    const DWORD attributes = ::GetFileAttributesA(source.c_str());
    FILETIME written;
    LARGE_INTEGER start = {};
    if (!from || attributes == INVALID_FILE_ATTRIBUTES || !::GetFileTime(from.get(), nullptr, nullptr, &written) ||
        !::SetFilePointerEx(from.get(), start, nullptr, FILE_BEGIN))
        return CFileHandle();
    CFileHandle to = CreateNew(copy, attributes & ~FILE_ATTRIBUTE_DIRECTORY);
    // Kept for the thread's next file: a block this large goes back to the system when
    // freed, and a new one faults in page by page as it is written.
    static thread_local std::vector<char> block(kCopyBlock);
    DWORD got = 0;
    while (to) {
        if (!::ReadFile(from.get(), block.data(), kCopyBlock, &got, nullptr) || !WriteAll(to.get(), block.data(), got))
            return CFileHandle();
        if (got == 0)
            break;
    }
    if (to && !::SetFileTime(to.get(), nullptr, nullptr, &written))
        return CFileHandle();
    return to;
}

CFileHandle OpenPlaced(const std::string& path) {
    return CFileHandle(::CreateFileA(path.c_str(), kPlacedAccess, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
}

// Keeps the system's error across the cleanup of a failure.
BOOL FailWithout(const std::string& temp, CFileHandle& placed) {
    DWORD error = ::GetLastError();
    placed.reset();
    ::DeleteFileA(temp.c_str());
    ::SetLastError(error);
    return FALSE;
}
}  // namespace

bool IsOwnImage(const std::string& path) {
    std::string self;
    RixGetModulePath(self, TRUE);
    return ::lstrcmpiA(self.c_str(), path.c_str()) == 0;
}

BOOL MoveName(const std::string& from, const std::string& to) { return MoveOver(from, to); }

BOOL DeleteName(const std::string& path) {
    auto gone = [&path] {
        if (::DeleteFileA(path.c_str()))
            return true;
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    };
    if (Patiently(gone))
        return TRUE;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return FALSE;
    CReadOnlyLift lift(path);
    return Patiently(gone);
}

BOOL DuplicateFile(const std::string& source, const std::string& copy, CFileHandle opened, bool bLink) {
    if (bLink && opened && LinkOpenFile(opened.get(), copy))
        return TRUE;
    // A name in the way goes only once no handle of its file is open.
    opened.reset();
    if (bLink && ::CreateHardLinkA(copy.c_str(), source.c_str(), nullptr))
        return TRUE;
    if (bLink && ::GetLastError() == ERROR_ALREADY_EXISTS && DeleteName(copy) &&
        ::CreateHardLinkA(copy.c_str(), source.c_str(), nullptr))
        return TRUE;
    CFileHandle copied = CopyToNew(source, copy);
    return copied ? TRUE : FailWithout(copy, copied);
}

CFileHandle PlaceBeside(const std::string& source, const std::string& target, CSource kind, CFileHandle opened) {
    const std::string temp = target + kInstallTempSuffix;
    CFileHandle placed;
    if (kind == CSource::kUpdate || IsOwnImage(target)) {
        placed = CopyToNew(source, temp, std::move(opened));
    } else if (DuplicateFile(source, temp, std::move(opened))) {
        placed = OpenPlaced(temp);
    }
    if (!placed)
        FailWithout(temp, placed);
    return placed;
}

BOOL PutInPlace(CFileHandle& placed, const std::string& target) {
    const std::string temp = target + kInstallTempSuffix;
    if (!::FlushFileBuffers(placed.get()))
        return FailWithout(temp, placed);
    if (MoveOpenFileOver(placed.get(), target))
        return TRUE;
    if (IsOwnImage(target))
        return PutOwnImageInPlace(placed, target) ? TRUE : FailWithout(temp, placed);
    placed.reset();
    return MoveOver(temp, target) ? TRUE : FailWithout(temp, placed);
}

BOOL InstallFile(const std::string& source, const std::string& target, CSource kind) {
    CFileHandle placed = PlaceBeside(source, target, kind);
    return placed && PutInPlace(placed, target);
}

std::string FailureCause(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? "\nﾃﾞｨｽｸの空き容量が不足しています" : "";
}

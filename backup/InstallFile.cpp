#include "InstallFile.h"

#include <winternl.h>

#include <vector>

#include "RixFiles.h"
#include "RixPath.h"

namespace {
const DWORD kCopyBlock = 256 * 1024;
// The placed file is written, flushed and renamed through one handle.
const DWORD kPlacedAccess = GENERIC_WRITE | DELETE;

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
    return RixRenameOver(to, [&] {
        return ::SetFileInformationByHandle(file, FileRenameInfo, rename.data(), static_cast<DWORD>(rename.size())) !=
               FALSE;
    });
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
    if (!RixMoveFile(target, aside))
        return false;
    if (MoveOpenFileOver(placed.get(), target))
        return true;
    placed.reset();
    if (RixMoveFile(target + kInstallTempSuffix, target))
        return true;
    const DWORD error = ::GetLastError();
    RixMoveFile(aside, target);
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
    if (!file && ::GetLastError() == ERROR_FILE_EXISTS && RixDeleteFile(path))
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

// Unknown attributes count as read-only: such a file is copied, which fails by itself if it must.
bool IsReadOnly(const std::string& path) {
    return (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
}
}  // namespace

BOOL FailWithout(const std::string& temp, CFileHandle& placed) {
    DWORD error = ::GetLastError();
    placed.reset();
    RixDeleteFile(temp);
    ::SetLastError(error);
    return FALSE;
}

bool IsOwnImage(const std::string& path) {
    std::string self;
    RixGetModulePath(self, TRUE);
    return ::lstrcmpiA(self.c_str(), path.c_str()) == 0;
}

BOOL DuplicateFile(const std::string& source, const std::string& copy, CFileHandle opened) {
    // A copy, not a second name, of the running program (a name of a running image cannot be deleted) and of
    // a read-only file (a rename over it lifts the attribute from the data that every name shares, and a
    // second name of it could not be opened for writing when it is put back).
    const bool bLink = !IsOwnImage(source) && !IsReadOnly(source);
    if (bLink && opened && LinkOpenFile(opened.get(), copy))
        return TRUE;
    // A name in the way goes only once no handle of its file is open.
    opened.reset();
    if (bLink && ::CreateHardLinkA(copy.c_str(), source.c_str(), nullptr))
        return TRUE;
    if (bLink && ::GetLastError() == ERROR_ALREADY_EXISTS && RixDeleteFile(copy) &&
        ::CreateHardLinkA(copy.c_str(), source.c_str(), nullptr))
        return TRUE;
    CFileHandle copied = CopyToNew(source, copy);
    return copied ? TRUE : FailWithout(copy, copied);
}

CFileHandle PlaceBeside(const std::string& source, const std::string& target, CSource kind, CFileHandle opened) {
    const std::string temp = target + kInstallTempSuffix;
    CFileHandle placed;
    // A read-only backup is copied too: a second name of its data could not be opened for writing.
    if (kind == CSource::kUpdate || IsOwnImage(target) || IsReadOnly(source)) {
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
    return RixMoveFile(temp, target) ? TRUE : FailWithout(temp, placed);
}

BOOL InstallFile(const std::string& source, const std::string& target, CSource kind) {
    CFileHandle placed = PlaceBeside(source, target, kind);
    return placed && PutInPlace(placed, target);
}

#include "RixPath.h"

#include <imagehlp.h>
#include <io.h>
#include <shlwapi.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "Handle.h"

namespace {
const size_t kDriveBytes = 3;
const size_t kPartBytes = 256;

struct PathParts {
    std::string drive, folder, name, ext;
};

// Position just after the last separator, stepping over double-byte characters.
size_t AfterLastSeparator(const std::string& path, size_t from) {
    size_t after = from;
    for (size_t i = from; i < path.size(); i += RixCharBytes(static_cast<unsigned char>(path[i]))) {
        if (RixCharBytes(static_cast<unsigned char>(path[i])) == 1 && RixIsSeparator(static_cast<unsigned char>(path[i])))
            after = i + 1;
    }
    return after;
}

bool EndsWithSeparator(const std::string& path) {
    bool lastIsSeparator = false;
    for (size_t i = 0; i < path.size(); i += RixCharBytes(static_cast<unsigned char>(path[i])))
        lastIsSeparator = RixCharBytes(static_cast<unsigned char>(path[i])) == 1 &&
                          RixIsSeparator(static_cast<unsigned char>(path[i]));
    return lastIsSeparator;
}

bool SplitPath(const std::string& path, PathParts& parts) {
    size_t pos = 0;
    if (path.size() >= 2 && path[1] == ':' && RixCharBytes(static_cast<unsigned char>(path[0])) == 1)
        pos = 2;
    parts.drive = path.substr(0, pos);
    size_t nameStart = AfterLastSeparator(path, pos);
    parts.folder = path.substr(pos, nameStart - pos);
    std::string last = path.substr(nameStart);
    size_t dot = std::string::npos;
    for (size_t i = 0; i < last.size(); i += RixCharBytes(static_cast<unsigned char>(last[i]))) {
        if (last[i] == '.')
            dot = i;
    }
    parts.name = dot == std::string::npos ? last : last.substr(0, dot);
    parts.ext = dot == std::string::npos ? std::string() : last.substr(dot);
    return parts.drive.size() < kDriveBytes && parts.folder.size() < kPartBytes && parts.name.size() < kPartBytes &&
           parts.ext.size() < kPartBytes;
}

std::string MakePath(const PathParts& parts) {
    std::string path;
    if (!parts.drive.empty()) {
        path += parts.drive[0];
        path += ':';
    }
    if (!parts.folder.empty()) {
        path += parts.folder;
        if (!EndsWithSeparator(parts.folder))
            path += '\\';
    }
    path += parts.name;
    if (!parts.ext.empty()) {
        if (parts.ext[0] != '.')
            path += '.';
        path += parts.ext;
    }
    return path;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }
}  // namespace

int RixCharBytes(unsigned char c) { return ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1; }

bool RixIsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

std::string& RixSetPathParts(std::string& path, const char* drive, const char* folder, const char* name,
                             const char* ext) {
    PathParts parts;
    bool fits = SplitPath(path, parts);
    if (drive)
        parts.drive = drive;
    if (folder)
        parts.folder = folder;
    if (name)
        parts.name = name;
    if (ext)
        parts.ext = ext;
    fits = fits && parts.drive.size() < kDriveBytes && parts.folder.size() < kPartBytes &&
           parts.name.size() < kPartBytes && parts.ext.size() < kPartBytes;
    std::string rebuilt = MakePath(parts);
    path = (fits && rebuilt.size() < MAX_PATH) ? rebuilt : std::string();
    return path;
}

std::string RixTrailBackslash(const std::string& path, BOOL bAdd) {
    if (path.empty())
        return path;
    if (EndsWithSeparator(path))
        return bAdd ? path : path.substr(0, path.size() - 1);
    return bAdd ? path + '\\' : path;
}

std::string RixJoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    bool nameHasSeparator = !name.empty() && name[0] == '\\';
    return RixTrailBackslash(folder, nameHasSeparator ? FALSE : TRUE) + name;
}

void RixGetModulePath(std::string& out, BOOL bWithName) {
    out.clear();
    char buffer[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    out.assign(buffer, length);
    if (!bWithName) {
        size_t after = 0;
        for (size_t i = 0; i < out.size(); i += RixCharBytes(static_cast<unsigned char>(out[i]))) {
            if (out[i] == '\\')
                after = i + 1;
        }
        out.resize(after);
    }
}

std::string RixFullPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = path.empty() ? 0 : ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : std::string();
}

std::string RixRootOf(const std::string& folder) {
    if (folder.size() >= 2 && folder[1] == ':' && RixCharBytes(static_cast<unsigned char>(folder[0])) == 1)
        return folder.substr(0, 2) + '\\';
    if (folder.size() < 3 || !RixIsSeparator(folder[0]) || !RixIsSeparator(folder[1]))
        return std::string();
    // "\\server\share\": the two parts after the leading pair of separators.
    size_t parts = 0;
    for (size_t i = 2; i < folder.size(); i += RixCharBytes(static_cast<unsigned char>(folder[i]))) {
        if (RixCharBytes(static_cast<unsigned char>(folder[i])) == 1 && RixIsSeparator(folder[i]) && ++parts == 2)
            return folder.substr(0, i + 1);
    }
    return parts == 1 && !RixIsSeparator(folder.back()) ? folder + '\\' : std::string();
}

bool RixIsInFolder(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() || !EndsWithSeparator(folder))
        return false;
    for (size_t i = 0; i < folder.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(path[i]), b = static_cast<unsigned char>(folder[i]);
        if (RixCharBytes(b) == 2) {  // a double-byte character compares exactly, both bytes
            if (a != b || i + 1 >= folder.size() || path[i + 1] != folder[i + 1])
                return false;
            ++i;
            continue;
        }
        const bool sameLetter = a < 0x80 && b < 0x80 && std::tolower(a) == std::tolower(b);
        if (a != b && !sameLetter && !(RixIsSeparator(a) && RixIsSeparator(b)))
            return false;
    }
    return true;
}

bool RixExists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

BOOL RixMakeFolder(const std::string& path) {
    std::string folder = RixTrailBackslash(path, TRUE);
    if (folder.empty() || folder.size() >= MAX_PATH)
        return FALSE;
    return ::MakeSureDirectoryPathExists(folder.c_str());
}

int RixFindFiles(const std::string& folder, const char* pattern, CFindDataList& list, BOOL bRecurse) {
    std::string base = RixTrailBackslash(folder, TRUE);
    std::string search = base + "*.*";
    if (search.size() >= MAX_PATH)
        return static_cast<int>(list.size());
    WIN32_FIND_DATAA data;
    CFindHandle find(::FindFirstFileA(search.c_str(), &data));
    if (!find)
        return static_cast<int>(list.size());
    do {
        if (IsDotEntry(data.cFileName))
            continue;
        std::string full = base + data.cFileName;
        if (full.size() >= MAX_PATH)
            continue;  // cannot be named in a find record
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (bRecurse)
                RixFindFiles(full, pattern, list, TRUE);
        } else if (::PathMatchSpecA(data.cFileName, pattern)) {
            WIN32_FIND_DATAA record = data;
            std::memcpy(record.cFileName, full.c_str(), full.size() + 1);
            list.push_back(record);
        }
    } while (::FindNextFileA(find.get(), &data));
    return static_cast<int>(list.size());
}

int RixDeleteFolder(const std::string& path) {
    if (!RixExists(path))
        return 0;
    std::string folder = RixTrailBackslash(path, FALSE);
    std::string search = folder + "\\*.*";
    if (search.size() >= MAX_PATH)
        return 1;
    WIN32_FIND_DATAA data;
    {
        CFindHandle find(::FindFirstFileA(search.c_str(), &data));
        if (find) {
            do {
                if (IsDotEntry(data.cFileName))
                    continue;
                std::string full = folder + "\\" + data.cFileName;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RixDeleteFolder(full);
                else
                    ::DeleteFileA(full.c_str());
            } while (::FindNextFileA(find.get(), &data));
        }
    }
    return ::RemoveDirectoryA(folder.c_str()) ? 0 : 1;
}

int RixCompareFiles(const std::string& path1, const std::string& path2) {
    CFileHandle file1(::CreateFileA(path1.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    CFileHandle file2(::CreateFileA(path2.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return RixCompareOpenFiles(file1.get(), file2.get());
}

int RixCompareOpenFiles(HANDLE file1, HANDLE file2) {
    LARGE_INTEGER size1, size2;
    if (!::GetFileSizeEx(file1, &size1) || !::GetFileSizeEx(file2, &size2))
        return 2;
    if (size1.QuadPart != size2.QuadPart)
        return 1;
    // Block by block, in constant memory, up to the first difference.
    static const DWORD kBlock = 64 * 1024;
    // Kept for the thread's next comparison, as fresh blocks would fault page by page.
    static thread_local std::vector<char> block1(kBlock), block2(kBlock);
    for (LONGLONG left = size1.QuadPart; left > 0;) {
        DWORD size = left < kBlock ? static_cast<DWORD>(left) : kBlock, got1 = 0, got2 = 0;
        if (!::ReadFile(file1, block1.data(), size, &got1, nullptr) || got1 != size ||
            !::ReadFile(file2, block2.data(), size, &got2, nullptr) || got2 != size)
            return 2;
        if (std::memcmp(block1.data(), block2.data(), size) != 0)
            return 1;
        left -= size;
    }
    return 0;
}

#include "Tree.h"

#include <algorithm>

#include "Handle.h"

namespace {
const UINT kCodePage932 = 932;

BOOL AddFolder(const std::wstring& folder, const std::string& prefix, std::vector<CTreeFile>& files,
               std::string& error) {
    WIN32_FIND_DATAW found;
    CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) {
        error = "cannot read the folder " + Utf8Of(folder);
        return FALSE;
    }
    do {
        std::wstring leaf = found.cFileName;
        if (leaf == L"." || leaf == L"..")
            continue;
        std::string name;
        if (!ToCodePage932(leaf, name)) {
            error = "the name " + Utf8Of(folder + L"\\" + leaf) + " cannot be written in code page 932";
            return FALSE;
        }
        name = prefix + name;
        // The installed path is a drive root ("C:\") and the member name.
        if (3 + name.size() >= MAX_PATH) {
            error = "the installed path of " + Utf8Of(folder + L"\\" + leaf) + " does not fit in 260 bytes";
            return FALSE;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!AddFolder(folder + L"\\" + leaf, name + "/", files, error))
                return FALSE;
        } else {
            files.push_back({name, folder + L"\\" + leaf});
        }
    } while (::FindNextFileW(find.get(), &found));
    return TRUE;
}
}  // namespace

BOOL ListTree(const std::wstring& root, std::vector<CTreeFile>& files, std::string& error) {
    files.clear();
    if (!IsFolder(root)) {
        error = "the folder " + Utf8Of(root) + " does not exist";
        return FALSE;
    }
    if (!AddFolder(root, "", files, error))
        return FALSE;
    std::sort(files.begin(), files.end(), [](const CTreeFile& a, const CTreeFile& b) { return a.name < b.name; });
    return TRUE;
}

BOOL ReadWholeFile(const std::wstring& path, std::string& data, FILETIME* modified) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart >= 0x7FFFFFFF ||
        (modified && !::GetFileTime(file.get(), nullptr, nullptr, modified)))
        return FALSE;
    data.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    return data.empty() ||
           (::ReadFile(file.get(), &data[0], static_cast<DWORD>(data.size()), &got, nullptr) && got == data.size());
}

BOOL WriteWholeFile(const std::wstring& path, const std::string& data) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    DWORD written = 0;
    return file && (data.empty() || (::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written,
                                                 nullptr) &&
                                     written == data.size()));
}

BOOL IsFolder(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

BOOL ToCodePage932(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    if (text.empty())
        return TRUE;
    BOOL usedDefault = FALSE;
    int size = ::WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return FALSE;
    bytes.resize(size);
    ::WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                          size, nullptr, &usedDefault);
    return !usedDefault;
}


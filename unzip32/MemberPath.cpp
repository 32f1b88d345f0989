#include "MemberPath.h"

#include <cwchar>
#include <vector>

namespace {
bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// A part of only dots and blanks names no file of its own: Windows drops trailing dots
// and blanks, and some systems climb with "...". "." alone is the harmless current folder.
bool IsDotPart(const std::wstring& part) { return part != L"." && part.find_first_not_of(L". ") == std::wstring::npos; }

bool DecodeName(const CZipMember& member, std::wstring& out) {
    if (!member.IsUtf8())
        return AnsiToWide(member.name, out);
    out.clear();
    if (member.name.empty())
        return true;
    int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, member.name.data(),
                                       static_cast<int>(member.name.size()), nullptr, 0);
    if (length <= 0)
        return false;
    out.resize(length);
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, member.name.data(),
                                 static_cast<int>(member.name.size()), &out[0], length) == length;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return std::wstring();
    std::wstring full(length, L'\0');
    length = ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    full.resize(length);
    return full;
}
}  // namespace

std::string MemberDisplayName(const CZipMember& member) {
    std::wstring name;
    std::string display;
    if (member.IsUtf8() && DecodeName(member, name) && WideToAnsi(name, display))
        return display;
    return member.name;
}

bool AnsiToWide(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty())
        return true;
    int length =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return false;
    out.resize(length);
    return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &out[0],
                                 length) == length;
}

bool WideToAnsi(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty())
        return true;
    BOOL usedDefault = FALSE;
    int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, &usedDefault);
    if (length <= 0 || usedDefault)
        return false;
    out.resize(length);
    return ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &out[0],
                                 length, nullptr, &usedDefault) == length &&
           !usedDefault;
}

bool ResolveMemberPath(const CZipMember& member, const std::wstring& root, bool keepFolders, CMemberPath& out,
                       std::string& reason) {
    std::wstring name;
    if (!DecodeName(member, name)) {
        reason = "the stored name is not valid text";
        return false;
    }
    if (name.empty()) {
        reason = "the stored name is empty";
        return false;
    }
    if (IsSeparator(name[0])) {
        reason = "absolute path";
        return false;
    }
    for (wchar_t c : name) {
        if (c == L':') {
            reason = "drive or stream name in the path";
            return false;
        }
        if (c < 0x20) {
            reason = "control character in the name";
            return false;
        }
    }

    out.isFolder = IsSeparator(name.back());
    std::vector<std::wstring> components;
    size_t start = 0;
    while (start <= name.size()) {
        size_t stop = start;
        while (stop < name.size() && !IsSeparator(name[stop]))
            ++stop;
        std::wstring component = name.substr(start, stop - start);
        if (!component.empty() && IsDotPart(component)) {
            reason = "\"" + std::string(component.begin(), component.end()) + "\" leads out of the target folder";
            return false;
        }
        if (!component.empty() && component != L".")
            components.push_back(component);
        start = stop + 1;
    }
    if (!keepFolders && components.size() > 1)
        components.erase(components.begin(), components.end() - 1);
    if (components.empty() && out.isFolder) {  // "./": the target folder itself
        out.path = root;
        return WideToAnsi(root, out.ansiPath);
    }
    if (components.empty()) {
        reason = "the stored name is empty";
        return false;
    }

    std::wstring relative;
    for (const std::wstring& component : components)
        relative += (relative.empty() ? L"" : L"\\") + component;
    // The platform's own normalisation (trailing dots and blanks, device names) decides
    // where a path really points; the result must still lie below the root.
    std::wstring full = FullPath(root + relative);
    if (full.size() <= root.size() || _wcsnicmp(full.c_str(), root.c_str(), root.size()) != 0) {
        reason = "the path leads out of the target folder";
        return false;
    }
    if (!WideToAnsi(full, out.ansiPath)) {
        reason = "the name cannot be written in the system code page";
        out.bLocalLimit = true;
        return false;
    }
    if (out.ansiPath.size() >= MAX_PATH) {
        reason = "path of 260 bytes or more";
        out.bLocalLimit = true;
        return false;
    }
    out.path = full;
    return true;
}

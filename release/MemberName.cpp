#include "MemberName.h"

#include <cstring>

namespace {
const UINT kCodePage932 = 932;
const char kHexDigits[] = "0123456789ABCDEF";

bool IsPlain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-_./", c);
}

// The byte count of the character at text[at]: a trail byte may equal "\\" or a letter.
size_t CharBytes(const std::string& text, size_t at) {
    return ::IsDBCSLeadByteEx(kCodePage932, static_cast<BYTE>(text[at])) ? 2 : 1;
}
}  // namespace

std::string PercentEncoded(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c != 0 && IsPlain(c))
            text += static_cast<char>(c);
        else
            text += {'%', kHexDigits[c >> 4], kHexDigits[c & 15]};
    }
    return text;
}

BOOL PercentDecoded(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char* high = i + 2 < text.size() && text[i] == '%' ? std::strchr(kHexDigits, text[i + 1]) : nullptr;
        const char* low = high ? std::strchr(kHexDigits, text[i + 2]) : nullptr;
        if (high && low && *high && *low) {
            bytes += static_cast<char>((high - kHexDigits) << 4 | (low - kHexDigits));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return PercentEncoded(bytes) == text;
}

BOOL IsSafeMemberName(const std::string& name) {
    if (name.empty() || 3 + name.size() >= MAX_PATH)
        return FALSE;
    std::string part;
    for (size_t i = 0; i <= name.size();) {
        if (i == name.size() || name[i] == '/') {
            if (part.find_first_not_of(". ") == std::string::npos)
                return FALSE;
            part.clear();
            ++i;
            continue;
        }
        size_t bytes = CharBytes(name, i);
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (i + bytes > name.size() || (bytes == 1 && (c < 0x20 || c == 0x7F || std::strchr("\\:*?\"<>|", c))))
            return FALSE;
        part.append(name, i, bytes);
        i += bytes;
    }
    return TRUE;
}

std::string MemberNameKey(const std::string& name) {
    std::string key = name;
    for (size_t i = 0; i < key.size(); i += CharBytes(key, i)) {
        if (key[i] >= 'a' && key[i] <= 'z')
            key[i] = static_cast<char>(key[i] - 'a' + 'A');
    }
    return key;
}

std::string Utf8OfCodePage932(const std::string& text) {
    int size = ::MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size <= 0 ||
        !::MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                               &wide[0], size))
        return std::string();
    size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 0, '\0');
    if (size <= 0 || !::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], size,
                                            nullptr, nullptr))
        return std::string();
    return utf8;
}

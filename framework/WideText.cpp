#include "WideText.h"

#include "WinApp.h"

std::wstring WideFromText(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int length = static_cast<int>(text.size());
    // A code page 932 byte never makes more than one UTF-16 unit.
    std::wstring wide(text.size(), L'\0');
    int converted = ::MultiByteToWideChar(kTextCodePage, 0, text.data(), length, &wide[0], length);
    wide.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
    return wide;
}

std::string TextFromWide(const wchar_t* wide, size_t length) {
    if (length == 0)
        return std::string();
    const int units = static_cast<int>(length);
    // Each UTF-16 unit makes at most two bytes of code page 932.
    std::string text(length * 2, '\0');
    int converted = ::WideCharToMultiByte(kTextCodePage, 0, wide, units, &text[0], static_cast<int>(text.size()),
                                          nullptr, nullptr);
    text.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
    return text;
}

std::string LoadResourceText(UINT nID) {
    // With no buffer size LoadStringW hands out the resource's own read-only text.
    const wchar_t* resource = nullptr;
    int length = ::LoadStringW(AfxGetInstanceHandle(), nID, reinterpret_cast<LPWSTR>(&resource), 0);
    return length > 0 && resource ? TextFromWide(resource, static_cast<size_t>(length)) : std::string();
}

std::string Utf8Of(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                              nullptr);
    return bytes;
}

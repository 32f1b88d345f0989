#include "PartialDownload.h"

#include <cerrno>
#include <cstdlib>

#include "Handle.h"

namespace {
// Reads the decimal number at text[at], leaving at past it.
bool ReadNumber(const std::string& text, size_t& at, ULONGLONG& number) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    number = std::strtoull(text.c_str() + at, &end, 10);
    at = end - text.c_str();
    return errno == 0;
}

bool Expect(const std::string& text, size_t& at, const char* part) {
    std::string expected(part);
    if (text.compare(at, expected.size(), expected) != 0)
        return false;
    at += expected.size();
    return true;
}

// Takes the line that starts at text[at], leaving at past its line feed.
bool ReadLine(const std::string& text, size_t& at, std::string& line) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
        return false;
    line = text.substr(at, end - at);
    at = end + 1;
    return true;
}
}  // namespace

std::string DownloadSourcePath(const std::string& partial) { return partial + ".source"; }

BOOL ParseByteCount(const std::string& text, ULONGLONG& count) {
    size_t at = 0;
    return ReadNumber(text, at, count) && at == text.size();
}

BOOL ParseContentRange(const std::string& text, ULONGLONG& first, ULONGLONG& last, ULONGLONG& length) {
    size_t at = 0;
    return Expect(text, at, "bytes ") && ReadNumber(text, at, first) && Expect(text, at, "-") &&
           ReadNumber(text, at, last) && Expect(text, at, "/") && ReadNumber(text, at, length) && at == text.size();
}

BOOL ReadDownloadSource(const std::string& path, CDownloadSource& source) {
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char text[4096];
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), text, sizeof(text), &got, nullptr))
        return FALSE;
    std::string lines(text, got);
    std::string length;
    size_t at = 0;
    return ReadLine(lines, at, source.url) && ReadLine(lines, at, length) && ReadLine(lines, at, source.validator) &&
           at == lines.size() && ParseByteCount(length, source.length) && !source.validator.empty();
}

BOOL WriteDownloadSource(const std::string& path, const CDownloadSource& source) {
    std::string lines = source.url + "\n" + std::to_string(source.length) + "\n" + source.validator + "\n";
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    DWORD written = 0;
    bool ok = file && ::WriteFile(file.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
              written == lines.size() && ::FlushFileBuffers(file.get());
    file.reset();
    if (!ok)
        ::DeleteFileA(path.c_str());
    return ok;
}

#include "VersionText.h"

#include <climits>
#include <cstring>

#include "RixPath.h"

namespace {
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits from the start of text, as far as they go; saturates instead of overflowing.
long long LeadingNumber(const std::string& text, size_t from = 0) {
    long long value = 0;
    for (size_t i = from; i < text.size() && IsDigit(text[i]); ++i)
        value = value < LLONG_MAX / 10 - 9 ? value * 10 + (text[i] - '0') : LLONG_MAX / 10;
    return value;
}
}  // namespace

std::string VerFileVersionText(const std::string& fileName) {
    std::string text = fileName.size() > 3 ? fileName.substr(3) : std::string();
    // Only single-byte letters change; a trail byte may look like 'A'..'Z'.
    for (size_t i = 0; i < text.size(); i += RixCharBytes(static_cast<unsigned char>(text[i]))) {
        if (text[i] >= 'A' && text[i] <= 'Z')
            text[i] = static_cast<char>(text[i] - 'A' + 'a');
    }
    return text;
}

int VersionKey(const std::string& versionText) {
    std::string number = versionText;
    int letter = 0;
    for (size_t i = 0; i < number.size(); i += RixCharBytes(static_cast<unsigned char>(number[i]))) {
        if (IsAsciiLetter(number[i])) {
            char lower = static_cast<char>(number[i] | 0x20);
            letter = lower - 'a' + 1;
            number.resize(i);
            break;
        }
    }
    size_t dot = number.find('.');
    size_t places = dot == std::string::npos ? 0 : number.size() - dot - 1;
    std::string digits;
    for (char c : number) {
        if (c != '.')
            digits += c;
    }
    if (places < 4)
        digits.append(4 - places, '0');
    long long key = LeadingNumber(digits) + letter;
    return key > INT_MAX ? INT_MAX : static_cast<int>(key);
}

int ParseRevision(const std::string& text) {
    const size_t marker = text.rfind("No.");
    if (marker == std::string::npos)
        return 0;
    const size_t start = marker + 3;
    const size_t close = text.find(')', start);
    if (close == std::string::npos)
        return 0;
    std::string number = text.substr(start, close - start);
    size_t first = number.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos)
        return 0;
    long long revision = LeadingNumber(number, first);
    return revision > INT_MAX ? INT_MAX : static_cast<int>(revision);
}

int ParseRevision(const char* text) { return ParseRevision(std::string(text)); }

bool IsVerFileName(const std::string& fileName) {
    if (fileName.size() < 4 || _strnicmp(fileName.c_str(), "ver", 3) != 0)
        return false;
    size_t at = 3;
    auto digits = [&fileName, &at] {
        const size_t start = at;
        while (at < fileName.size() && IsDigit(fileName[at]))
            ++at;
        return at > start;
    };
    if (!digits())
        return false;
    if (at < fileName.size() && fileName[at] == '.') {
        ++at;
        if (!digits())
            return false;
    }
    if (at < fileName.size() && IsAsciiLetter(fileName[at]))
        ++at;
    return at == fileName.size();
}

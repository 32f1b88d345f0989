#include "Base64.h"

#include <cstring>

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
    const char* found = c ? std::strchr(kAlphabet, c) : nullptr;
    return found ? static_cast<int>(found - kAlphabet) : -1;
}
}  // namespace

std::string Base64Encode(const BYTE* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; i += 3) {
        unsigned group = bytes[i] << 16;
        if (i + 1 < count)
            group |= bytes[i + 1] << 8;
        if (i + 2 < count)
            group |= bytes[i + 2];
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 63];
        text += i + 1 < count ? kAlphabet[(group >> 6) & 63] : '=';
        text += i + 2 < count ? kAlphabet[group & 63] : '=';
    }
    return text;
}

BOOL Base64Decode(const std::string& text, std::vector<BYTE>& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0)
        return FALSE;
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        size_t padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        unsigned group = 0;
        for (size_t k = 0; k < 4; ++k) {
            int sextet = k < 4 - padding ? SextetOf(text[i + k]) : 0;
            if (sextet < 0)
                return FALSE;
            group = group << 6 | sextet;
        }
        // Bits beyond the last byte must be zero, or two texts would give the same bytes.
        if ((padding == 1 && (group & 0xFF)) || (padding == 2 && (group & 0xFFFF)))
            return FALSE;
        bytes.push_back(static_cast<BYTE>(group >> 16));
        if (padding < 2)
            bytes.push_back(static_cast<BYTE>(group >> 8));
        if (padding < 1)
            bytes.push_back(static_cast<BYTE>(group));
    }
    return TRUE;
}

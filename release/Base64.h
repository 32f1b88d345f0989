#pragma once
// Standard base64 (RFC 4648, with padding). Decoding is strict: one spelling per byte string.
#include <windows.h>

#include <string>
#include <vector>

std::string Base64Encode(const BYTE* bytes, size_t count);
// FALSE for a length not a multiple of 4, a character outside the alphabet, misplaced
// padding, or padding bits that are not zero.
BOOL Base64Decode(const std::string& text, std::vector<BYTE>& bytes);

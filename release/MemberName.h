#pragma once
// Member names as an update archive and its signed manifest carry them: code page 932
// bytes, "/" between folders, relative to the drive root ("CAD/bin/b.dll").
#include <windows.h>

#include <string>

// Every byte outside A-Z a-z 0-9 - _ . / as %XX (upper-case hex), so the text stays ASCII
// and a comma can separate names.
std::string PercentEncoded(const std::string& bytes);
// FALSE unless text is exactly PercentEncoded(bytes): one spelling per name.
BOOL PercentDecoded(const std::string& text, std::string& bytes);

// A name that stays below the drive root: not empty, no part empty or of dots and blanks
// alone, no backslash, drive, control or wildcard character, whole double-byte characters,
// and an installed path ("C:\" and the name) below 260 bytes.
BOOL IsSafeMemberName(const std::string& name);

// Two names that Windows takes for the same file have the same key (ASCII letters folded).
std::string MemberNameKey(const std::string& name);

// Code page 932 text (a member name, AppName) as UTF-8; empty when it is not code page 932.
std::string Utf8OfCodePage932(const std::string& text);

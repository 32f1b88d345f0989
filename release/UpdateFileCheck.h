#pragma once
// The update file against its signed length and SHA-256, fed block by block as it
// arrives, or read back from a finished file.
#include <windows.h>

#include <string>

#include "Sha256.h"

class CUpdateFileCheck {
public:
    CUpdateFileCheck(ULONGLONG length, const std::string& sha256);
    // The most bytes still allowed: a download reads no more than this.
    ULONGLONG Remaining() const { return m_nLength - m_nReceived; }
    // FALSE once the bytes go beyond the signed length (nothing of them is hashed).
    BOOL Add(const void* data, DWORD bytes);
    // Ends the check: TRUE when exactly the signed length arrived with the signed hash.
    BOOL Matches();

private:
    ULONGLONG m_nLength;
    ULONGLONG m_nReceived = 0;
    BOOL m_bOverflow = FALSE;
    std::string m_strSha256;
    CSha256 m_hash;
};

// The same check over a file on disk, as an earlier run left it.
BOOL FileMatchesRelease(const std::string& path, ULONGLONG length, const std::string& sha256);

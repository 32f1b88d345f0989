#pragma once
// SHA-256 through CNG, fed piece by piece.
#include <windows.h>

#include <string>

#include "CngHandle.h"

const size_t kSha256Bytes = 32;

class CSha256 {
public:
    CSha256();
    // FALSE once CNG has failed; the hash is then of no use.
    BOOL Add(const void* data, size_t bytes);
    // Ends the hash: the digest as 64 lowercase hex digits, empty after any failure.
    std::string HexDigest();
    BOOL Digest(BYTE digest[kSha256Bytes]);

private:
    CAlgorithm m_algorithm;
    CHash m_hash;
    BOOL m_bGood = FALSE;
};

std::string Sha256Hex(const std::string& bytes);
std::string HexText(const BYTE* bytes, size_t count);

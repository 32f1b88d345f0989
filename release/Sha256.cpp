#include "Sha256.h"

CSha256::CSha256() : m_algorithm(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (m_algorithm && BCRYPT_SUCCESS(::BCryptCreateHash(m_algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
        m_hash.reset(hash);
        m_bGood = TRUE;
    }
}

BOOL CSha256::Add(const void* data, size_t bytes) {
    const BYTE* next = static_cast<const BYTE*>(data);
    // CNG takes a ULONG count: larger pieces go in parts.
    while (m_bGood && bytes > 0) {
        ULONG part = bytes > 0x40000000 ? 0x40000000 : static_cast<ULONG>(bytes);
        m_bGood = BCRYPT_SUCCESS(::BCryptHashData(m_hash.get(), const_cast<BYTE*>(next), part, 0));
        next += part;
        bytes -= part;
    }
    return m_bGood;
}

BOOL CSha256::Digest(BYTE digest[kSha256Bytes]) {
    if (m_bGood)
        m_bGood = BCRYPT_SUCCESS(::BCryptFinishHash(m_hash.get(), digest, kSha256Bytes, 0));
    BOOL good = m_bGood;
    m_bGood = FALSE;  // a finished hash takes nothing more
    return good;
}

std::string CSha256::HexDigest() {
    BYTE digest[kSha256Bytes];
    return Digest(digest) ? HexText(digest, sizeof(digest)) : std::string();
}

std::string Sha256Hex(const std::string& bytes) {
    CSha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return hash.HexDigest();
}

std::string HexText(const BYTE* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

#include "UpdateFileCheck.h"

#include "Handle.h"

CUpdateFileCheck::CUpdateFileCheck(ULONGLONG length, const std::string& sha256)
    : m_nLength(length), m_strSha256(sha256) {}

BOOL CUpdateFileCheck::Add(const void* data, DWORD bytes) {
    if (m_bOverflow || bytes > Remaining()) {
        m_bOverflow = TRUE;
        return FALSE;
    }
    m_nReceived += bytes;
    return m_hash.Add(data, bytes);
}

BOOL CUpdateFileCheck::Matches() {
    std::string digest = m_hash.HexDigest();
    return !m_bOverflow && m_nReceived == m_nLength && !digest.empty() && digest == m_strSha256;
}

BOOL FileMatchesRelease(const std::string& path, ULONGLONG length, const std::string& sha256) {
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return FALSE;
    CUpdateFileCheck check(length, sha256);
    char block[65536];
    DWORD got = 0;
    do {
        if (!::ReadFile(file.get(), block, sizeof(block), &got, nullptr) || !check.Add(block, got))
            return FALSE;
    } while (got > 0);
    return check.Matches();
}

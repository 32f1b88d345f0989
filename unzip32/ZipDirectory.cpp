#include "ZipDirectory.h"

#include "UnzipApi.h"

namespace {
const DWORD kLocalHeaderSignature = 0x04034b50;
const DWORD kCentralHeaderSignature = 0x02014b50;
const DWORD kEndRecordSignature = 0x06054b50;
const size_t kLocalHeaderSize = 30;
const size_t kCentralHeaderSize = 46;
const size_t kEndRecordSize = 22;
const size_t kMaxCommentSize = 0xFFFF;

WORD Read16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD Read32(const BYTE* p) { return Read16(p) | static_cast<DWORD>(Read16(p + 2)) << 16; }
}  // namespace

int CZipDirectory::Open(const char* path, std::string& reason) {
    m_file.reset(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!m_file || !::GetFileSizeEx(m_file.get(), &size)) {
        reason = "cannot find or open the archive";
        return PK_NOZIP;
    }
    if (size.QuadPart < static_cast<LONGLONG>(kEndRecordSize)) {
        reason = "End-of-central-directory signature not found (not a zip archive, or a truncated one)";
        return PK_NOZIP;
    }
    if (size.QuadPart > 0xFFFFFFFFLL) {
        reason = "archives of 4 GB or more are not supported";
        return PK_BADERR;
    }
    m_size = static_cast<size_t>(size.QuadPart);
    m_mapping.reset(::CreateFileMappingA(m_file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (m_mapping)
        m_view.reset(static_cast<const BYTE*>(::MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0)));
    if (!m_view) {
        reason = "cannot read the archive";
        return PK_MEM;
    }
    const BYTE* data = m_view.get();

    // The end record is the last thing in the file, followed only by the archive comment;
    // zip signatures inside an executable stub do not end where the file ends.
    size_t lowest = m_size - kEndRecordSize > kMaxCommentSize ? m_size - kEndRecordSize - kMaxCommentSize : 0;
    size_t end = m_size - kEndRecordSize;
    bool found = false;
    for (;; --end) {
        found = Read32(data + end) == kEndRecordSignature && end + kEndRecordSize + Read16(data + end + 20) == m_size;
        if (found || end == lowest)
            break;
    }
    if (!found) {
        reason = "End-of-central-directory signature not found (not a zip archive, or a truncated one)";
        return PK_NOZIP;
    }
    const BYTE* record = data + end;
    WORD entries = Read16(record + 10);
    DWORD directorySize = Read32(record + 12);
    DWORD directoryOffset = Read32(record + 16);
    m_comment.assign(reinterpret_cast<const char*>(record + kEndRecordSize), Read16(record + 20));
    if (Read16(record + 4) != 0 || Read16(record + 6) != 0 || entries != Read16(record + 8)) {
        reason = "multi-part archives are not supported";
        return PK_BADERR;
    }
    if (entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
        reason = "Zip64 archives are not supported";
        return PK_BADERR;
    }
    if (directorySize > end || end - directorySize < directoryOffset) {
        reason = "the central directory lies outside the archive";
        return PK_BADERR;
    }
    size_t directoryStart = end - directorySize;
    m_bias = directoryStart - directoryOffset;

    size_t at = directoryStart;
    for (WORD i = 0; i < entries; ++i) {
        if (end - at < kCentralHeaderSize || Read32(data + at) != kCentralHeaderSignature) {
            reason = "the central directory is damaged";
            return PK_BADERR;
        }
        const BYTE* header = data + at;
        size_t nameLength = Read16(header + 28);
        size_t recordLength = kCentralHeaderSize + nameLength + Read16(header + 30) + Read16(header + 32);
        if (end - at < recordLength) {
            reason = "the central directory is damaged";
            return PK_BADERR;
        }
        CZipMember member;
        member.flags = Read16(header + 8);
        member.method = Read16(header + 10);
        member.time = Read16(header + 12);
        member.date = Read16(header + 14);
        member.crc = Read32(header + 16);
        member.compressedSize = Read32(header + 20);
        member.size = Read32(header + 24);
        member.localHeaderOffset = Read32(header + 42);
        member.name.assign(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameLength);
        m_members.push_back(member);
        at += recordLength;
    }
    return PK_OK;
}

const BYTE* CZipDirectory::MemberData(const CZipMember& member) const {
    size_t header = static_cast<size_t>(member.localHeaderOffset) + m_bias;
    if (header > m_size || m_size - header < kLocalHeaderSize)
        return nullptr;
    const BYTE* local = m_view.get() + header;
    if (Read32(local) != kLocalHeaderSignature)
        return nullptr;
    size_t start = header + kLocalHeaderSize + Read16(local + 26) + Read16(local + 28);
    if (start > m_size || m_size - start < member.compressedSize)
        return nullptr;
    return m_view.get() + start;
}

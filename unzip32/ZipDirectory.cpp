#include "ZipDirectory.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "UnzipApi.h"

namespace {
const DWORD kLocalHeaderSignature = 0x04034b50;
const DWORD kCentralHeaderSignature = 0x02014b50;
const DWORD kEndRecordSignature = 0x06054b50;
const size_t kLocalHeaderSize = 30;
const size_t kCentralHeaderSize = 46;
const size_t kEndRecordSize = 22;
const size_t kMaxCommentSize = 0xFFFF;

const WORD kUnicodePathField = 0x7075;
const BYTE kUnixHost = 3;

WORD Read16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD Read32(const BYTE* p) { return Read16(p) | static_cast<DWORD>(Read16(p + 2)) << 16; }

bool IsUtf8Text(const std::string& text) {
    return !text.empty() && ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                                  static_cast<int>(text.size()), nullptr, 0) > 0;
}

// Names are UTF-8 when flagged so, when a Unicode Path field matches the stored name, or
// when a Unix host stored valid UTF-8 with non-ASCII bytes without saying so (as zip on
// Linux does); otherwise they are in the system code page.
void DecideNameEncoding(CZipMember& member, const BYTE* extra, size_t extraLength) {
    member.utf8 = (member.flags & 0x0800) != 0;
    for (size_t at = 0; !member.utf8 && at + 4 <= extraLength;) {
        WORD id = Read16(extra + at), length = Read16(extra + at + 2);
        if (extraLength - at - 4 < length)
            break;
        const BYTE* field = extra + at + 4;
        if (id == kUnicodePathField && length >= 5 && field[0] == 1 &&
            Read32(field + 1) == crc32(0, reinterpret_cast<const Bytef*>(member.name.data()),
                                       static_cast<uInt>(member.name.size()))) {
            std::string unicodeName(reinterpret_cast<const char*>(field + 5), length - 5);
            if (IsUtf8Text(unicodeName)) {
                member.name = unicodeName;
                member.utf8 = true;
            }
        }
        at += 4 + length;
    }
    bool nonAscii = std::any_of(member.name.begin(), member.name.end(), [](char c) { return c & 0x80; });
    if (!member.utf8 && member.madeBy >> 8 == kUnixHost && nonAscii && IsUtf8Text(member.name))
        member.utf8 = true;
}
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
        member.madeBy = Read16(header + 4);
        member.flags = Read16(header + 8);
        member.method = Read16(header + 10);
        member.time = Read16(header + 12);
        member.date = Read16(header + 14);
        member.crc = Read32(header + 16);
        member.compressedSize = Read32(header + 20);
        member.size = Read32(header + 24);
        member.localHeaderOffset = Read32(header + 42);
        member.name.assign(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameLength);
        DecideNameEncoding(member, header + kCentralHeaderSize + nameLength, Read16(header + 30));
        m_members.push_back(member);
        at += recordLength;
    }
    // An end record that counts fewer members than the directory holds hides the rest.
    if (at != end) {
        reason = "the central directory holds more than the end record counts (damaged archive)";
        return PK_BADERR;
    }
    if (AnyMembersOverlap(directoryStart)) {
        reason = "invalid zip file with overlapped components (possible zip bomb)";
        return PK_BOMB;
    }
    return PK_OK;
}

bool CZipDirectory::AnyMembersOverlap(size_t directoryStart) const {
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const CZipMember& member : m_members) {
        size_t start, end;
        if (MemberRange(member, start, end))  // one outside the file fails on its own
            ranges.emplace_back(start, end);
    }
    ranges.emplace_back(directoryStart, m_size);
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            return true;
    return false;
}

bool CZipDirectory::MemberRange(const CZipMember& member, size_t& start, size_t& end) const {
    start = static_cast<size_t>(member.localHeaderOffset) + m_bias;
    if (start > m_size || m_size - start < kLocalHeaderSize)
        return false;
    const BYTE* local = m_view.get() + start;
    if (Read32(local) != kLocalHeaderSignature)
        return false;
    end = start + kLocalHeaderSize + Read16(local + 26) + Read16(local + 28);
    if (end > m_size || m_size - end < member.compressedSize)
        return false;
    end += member.compressedSize;
    return true;
}

const BYTE* CZipDirectory::MemberData(const CZipMember& member) const {
    size_t start, end;
    return MemberRange(member, start, end) ? m_view.get() + end - member.compressedSize : nullptr;
}

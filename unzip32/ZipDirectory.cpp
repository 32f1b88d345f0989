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
    if (!m_archive.Open(path)) {
        reason = "cannot find or open the archive";
        return PK_NOZIP;
    }
    if (m_archive.FileSize() < kEndRecordSize) {
        reason = "End-of-central-directory signature not found (not a zip archive, or a truncated one)";
        return PK_NOZIP;
    }
    if (m_archive.FileSize() > 0xFFFFFFFFULL) {
        reason = "archives of 4 GB or more are not supported";
        return PK_BADERR;
    }
    m_size = static_cast<size_t>(m_archive.FileSize());

    // The end record is the last thing in the file, followed only by the archive comment;
    // zip signatures inside an executable stub do not end where the file ends.
    size_t lowest = m_size - kEndRecordSize > kMaxCommentSize ? m_size - kEndRecordSize - kMaxCommentSize : 0;
    const BYTE* tail = m_archive.Read(lowest, m_size - lowest);
    if (!tail) {
        reason = "cannot read the archive";
        return PK_BADERR;
    }
    size_t end = m_size - kEndRecordSize;
    bool found = false;
    for (;; --end) {
        const BYTE* record = tail + (end - lowest);
        found = Read32(record) == kEndRecordSignature && end + kEndRecordSize + Read16(record + 20) == m_size;
        if (found || end == lowest)
            break;
    }
    if (!found) {
        reason = "End-of-central-directory signature not found (not a zip archive, or a truncated one)";
        return PK_NOZIP;
    }
    const BYTE* record = tail + (end - lowest);
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
    m_members.reserve(entries);
    for (WORD i = 0; i < entries; ++i) {
        const BYTE* header = end - at >= kCentralHeaderSize ? m_archive.Read(at, kCentralHeaderSize) : nullptr;
        size_t nameLength = header ? Read16(header + 28) : 0;
        size_t recordLength = header ? kCentralHeaderSize + nameLength + Read16(header + 30) + Read16(header + 32) : 0;
        if (!header || Read32(header) != kCentralHeaderSignature || end - at < recordLength ||
            !(header = m_archive.Read(at, recordLength))) {
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
    LocateMemberData();
    if (AnyMembersOverlap(directoryStart)) {
        reason = "invalid zip file with overlapped components (possible zip bomb)";
        return PK_BOMB;
    }
    return PK_OK;
}

void CZipDirectory::LocateMemberData() {
    std::vector<CZipMember*> inFileOrder;
    for (CZipMember& member : m_members)
        inFileOrder.push_back(&member);
    std::sort(inFileOrder.begin(), inFileOrder.end(),
              [](const CZipMember* a, const CZipMember* b) { return a->localHeaderOffset < b->localHeaderOffset; });
    for (size_t i = 0; i < inFileOrder.size(); ++i) {
        CZipMember& member = *inFileOrder[i];
        size_t start = member.localHeaderOffset + m_bias;
        // Headers close together come in one read; one far from the next is read alone,
        // so that large members are not read twice.
        size_t next = i + 1 < inFileOrder.size() ? inFileOrder[i + 1]->localHeaderOffset + m_bias : m_size;
        size_t fill = next - start <= CArchiveWindow::kSize / 16 ? CArchiveWindow::kSize : kLocalHeaderSize;
        const BYTE* local = m_archive.Read(start, kLocalHeaderSize, fill);
        if (!local || Read32(local) != kLocalHeaderSignature)
            continue;
        size_t dataStart = start + kLocalHeaderSize + Read16(local + 26) + Read16(local + 28);
        if (dataStart <= m_size && m_size - dataStart >= member.compressedSize)
            member.dataOffset = dataStart;
    }
}

bool CZipDirectory::AnyMembersOverlap(size_t directoryStart) const {
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const CZipMember& member : m_members)
        if (member.dataOffset != 0)  // one outside the file fails on its own
            ranges.emplace_back(member.localHeaderOffset + m_bias, member.dataOffset + member.compressedSize);
    ranges.emplace_back(directoryStart, m_size);
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            return true;
    return false;
}

const BYTE* CZipDirectory::ReadMemberData(const CZipMember& member, size_t offset, size_t& available) {
    if (member.dataOffset == 0 || offset >= member.compressedSize)
        return nullptr;
    return m_archive.ReadSome(member.dataOffset + offset, member.compressedSize - offset, available);
}

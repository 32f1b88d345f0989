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

// Where the certificate table that Authenticode signing appends to the stub begins, when the
// file ends with exactly that table as the stub's PE header names it; 0 otherwise.
size_t CertificateTableStart(CArchiveWindow& archive, size_t size) {
    const size_t kPeOffsetAt = 0x3C, kCoffHeaderSize = 20, kSecurityDirectory = 4;
    const BYTE* dos = archive.Read(0, kPeOffsetAt + 4);
    size_t pe = dos && dos[0] == 'M' && dos[1] == 'Z' ? Read32(dos + kPeOffsetAt) : 0;
    const BYTE* header = pe ? archive.Read(pe, 4 + kCoffHeaderSize + 2) : nullptr;
    if (!header || Read32(header) != 0x00004550)  // "PE\0\0"
        return 0;
    size_t optionalSize = Read16(header + 4 + 16);
    const BYTE* optional = archive.Read(pe + 4 + kCoffHeaderSize, optionalSize);
    WORD magic = optional && optionalSize >= 2 ? Read16(optional) : 0;
    size_t directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;  // PE32+ or PE32
    if (!directories || optionalSize < directories + (kSecurityDirectory + 1) * 8 ||
        Read32(optional + directories - 4) <= kSecurityDirectory)
        return 0;
    size_t start = Read32(optional + directories + kSecurityDirectory * 8);
    size_t length = Read32(optional + directories + kSecurityDirectory * 8 + 4);
    if (start == 0 || start % 8 != 0 || start > size || size - start != length)
        return 0;
    // The table is a run of certificates, each 8-byte aligned, filling it exactly.
    for (size_t at = start; at < size;) {
        const BYTE* certificate = size - at >= 8 ? archive.Read(at, 8) : nullptr;
        size_t certificateLength = certificate ? Read32(certificate) : 0;
        if (certificateLength < 8 || certificateLength > size - at)
            return 0;
        at += (certificateLength + 7) & ~static_cast<size_t>(7);
    }
    return start;
}

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

    // The end record is the last thing in the file, followed only by the archive comment,
    // or by the zeros that align a signed stub's certificate table and the table itself;
    // zip signatures inside an executable stub do not end there.
    size_t certificates = CertificateTableStart(m_archive, m_size);
    bool signedStub = certificates >= kEndRecordSize;
    size_t zipEnd = signedStub ? certificates : m_size;
    size_t alignment = signedStub ? 7 : 0;
    size_t lowest = zipEnd - kEndRecordSize > kMaxCommentSize ? zipEnd - kEndRecordSize - kMaxCommentSize : 0;
    const BYTE* tail = m_archive.Read(lowest, zipEnd - lowest);
    if (!tail) {
        reason = "cannot read the archive";
        return PK_BADERR;
    }
    size_t end = zipEnd - kEndRecordSize;
    bool found = false;
    for (;; --end) {
        const BYTE* record = tail + (end - lowest);
        size_t recordEnd = end + kEndRecordSize + (Read32(record) == kEndRecordSignature ? Read16(record + 20) : 0);
        found = Read32(record) == kEndRecordSignature && recordEnd <= zipEnd && zipEnd - recordEnd <= alignment &&
                std::all_of(tail + (recordEnd - lowest), tail + (zipEnd - lowest), [](BYTE b) { return b == 0; });
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

#pragma once
// Read-only view of a zip archive: the central directory, found from the end of the
// file, so that zip data behind an executable stub is read as well.
#include <windows.h>

#include <string>
#include <vector>

#include "ArchiveWindow.h"

struct CZipMember {
    WORD madeBy = 0;
    WORD flags = 0;
    WORD method = 0;
    WORD time = 0;
    WORD date = 0;
    DWORD crc = 0;
    DWORD compressedSize = 0;
    DWORD size = 0;
    DWORD localHeaderOffset = 0;  // as stored, before the stub offset is added
    size_t dataOffset = 0;        // where the data starts in the file; 0 when it lies outside
    std::string name;             // bytes as stored, or the UTF-8 of a Unicode Path field
    bool utf8 = false;            // name is UTF-8
    bool IsUtf8() const { return utf8; }
    bool IsEncrypted() const { return (flags & 0x0001) != 0; }
};

class CZipDirectory {
public:
    // Opens the archive, reads its central directory and finds every member's data.
    // Returns an unzip result code and sets reason for anything but success.
    int Open(const char* path, std::string& reason);

    const std::vector<CZipMember>& Members() const { return m_members; }
    const std::string& Comment() const { return m_comment; }
    // Bytes in front of the zip data that its stored offsets do not count: a stub
    // whose archive offsets were not adjusted.
    size_t ExtraLeadingBytes() const { return m_bias; }

    // Between one and all of the member's data bytes from offset on (available says how
    // many), or null when they cannot be read. Valid until the next read of the archive.
    const BYTE* ReadMemberData(const CZipMember& member, size_t offset, size_t& available);

private:
    void LocateMemberData();
    bool AnyMembersOverlap(size_t directoryStart) const;

    CArchiveWindow m_archive;
    size_t m_size = 0;
    size_t m_bias = 0;
    std::string m_comment;
    std::vector<CZipMember> m_members;
};

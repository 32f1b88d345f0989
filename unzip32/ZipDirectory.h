#pragma once
// Read-only view of a zip archive: the central directory, found from the end of the
// file, so that zip data behind an executable stub is read as well.
#include <windows.h>

#include <string>
#include <vector>

#include "Handle.h"

struct CMappedViewTraits {
    using Type = const BYTE*;
    static Type Invalid() { return nullptr; }
    static void Close(Type view) { ::UnmapViewOfFile(view); }
};
using CMappedView = CScopedHandle<CMappedViewTraits>;

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
    std::string name;             // bytes as stored, or the UTF-8 of a Unicode Path field
    bool utf8 = false;            // name is UTF-8
    bool IsUtf8() const { return utf8; }
    bool IsEncrypted() const { return (flags & 0x0001) != 0; }
};

class CZipDirectory {
public:
    // Maps the archive and reads its central directory. Returns an unzip result code
    // and sets reason for anything but success.
    int Open(const char* path, std::string& reason);

    const std::vector<CZipMember>& Members() const { return m_members; }
    const std::string& Comment() const { return m_comment; }
    // Bytes in front of the zip data that its stored offsets do not count: a stub
    // whose archive offsets were not adjusted.
    size_t ExtraLeadingBytes() const { return m_bias; }

    // The member's data, or null when its local header or data lie outside the file.
    const BYTE* MemberData(const CZipMember& member) const;

private:
    // Where the member's local header starts and its data ends, or false when either
    // lies outside the file.
    bool MemberRange(const CZipMember& member, size_t& start, size_t& end) const;
    bool AnyMembersOverlap(size_t directoryStart) const;

    CFileHandle m_file;
    CKernelHandle m_mapping;
    CMappedView m_view;
    size_t m_size = 0;
    size_t m_bias = 0;
    std::string m_comment;
    std::vector<CZipMember> m_members;
};

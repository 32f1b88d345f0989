#include "ZipWriter.h"

#include <zlib.h>

namespace {
void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, unsigned long value) {
    Put16(out, value & 0xFFFF);
    Put16(out, (value >> 16) & 0xFFFF);
}
}  // namespace

BOOL DeflateBytes(const std::string& data, std::string& packed) {
    z_stream stream = {};
    // Negative window bits: raw deflate, as a zip member holds it.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return FALSE;
    packed.resize(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&packed[0]);
    stream.avail_out = static_cast<uInt>(packed.size());
    int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

BOOL CZipWriter::Add(const std::string& name, const std::string& data, FILETIME modified) {
    const ULONGLONG kLimit = 0xFFFFFFFFULL;
    std::string packed;
    WORD dosDate = 0;
    WORD dosTime = 0;
    if (m_nMembers == 0xFFFF || name.empty() || name.size() > 0xFFFF || data.size() >= kLimit ||
        !DeflateBytes(data, packed) || !::FileTimeToDosDateTime(&modified, &dosDate, &dosTime))
        return FALSE;
    unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    ULONGLONG offset = m_output.size();
    if (offset + 30 + name.size() + packed.size() >= kLimit)
        return FALSE;

    // The fields that the local header and the directory entry share.
    std::string common;
    Put16(common, 20);  // version needed: deflate
    Put16(common, 0);   // flags: names in the system code page
    Put16(common, 8);   // deflated
    Put16(common, dosTime);
    Put16(common, dosDate);
    Put32(common, crc);
    Put32(common, static_cast<unsigned long>(packed.size()));
    Put32(common, static_cast<unsigned long>(data.size()));
    Put16(common, static_cast<unsigned>(name.size()));
    Put16(common, 0);  // no extra field

    Put32(m_output, 0x04034B50);
    m_output += common + name + packed;

    Put32(m_directory, 0x02014B50);
    Put16(m_directory, 20);  // made by: MS-DOS attributes, zip 2.0
    m_directory += common;
    Put16(m_directory, 0);     // no comment
    Put16(m_directory, 0);     // disk
    Put16(m_directory, 0);     // internal attributes
    Put32(m_directory, 0x20);  // archive attribute
    Put32(m_directory, static_cast<unsigned long>(offset));
    m_directory += name;
    ++m_nMembers;
    return TRUE;
}

BOOL CZipWriter::Finish() {
    ULONGLONG offset = m_output.size();
    if (offset + m_directory.size() >= 0xFFFFFFFFULL)
        return FALSE;
    m_output += m_directory;
    Put32(m_output, 0x06054B50);
    Put16(m_output, 0);  // this disk
    Put16(m_output, 0);  // the directory's disk
    Put16(m_output, m_nMembers);
    Put16(m_output, m_nMembers);
    Put32(m_output, static_cast<unsigned long>(m_directory.size()));
    Put32(m_output, static_cast<unsigned long>(offset));
    Put16(m_output, 0);  // no comment
    return TRUE;
}

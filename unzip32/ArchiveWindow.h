#pragma once
// An archive read through one buffer of fixed size, so that memory does not grow with
// the archive: bytes are read where they are asked for and stay until the next miss.
#include <windows.h>

#include <memory>

#include "Handle.h"

class CArchiveWindow {
public:
    static constexpr size_t kSize = 256 * 1024;

    // False when the file cannot be opened or its size read.
    bool Open(const char* path);
    unsigned long long FileSize() const { return m_fileSize; }

    // length bytes (at most kSize) at offset, or null when they lie outside the file or
    // cannot be read. A miss reads fill bytes from offset (at least length), so that a
    // caller skipping far ahead reads no more than it needs. Valid until the next call.
    const BYTE* Read(size_t offset, size_t length, size_t fill = kSize);
    // Between one and wanted bytes at offset; available says how many.
    const BYTE* ReadSome(size_t offset, size_t wanted, size_t& available);

private:
    CFileHandle m_file;
    std::unique_ptr<BYTE[]> m_buffer;
    unsigned long long m_fileSize = 0;
    size_t m_start = 0;
    size_t m_length = 0;
};

#include "ArchiveWindow.h"

#include <algorithm>

bool CArchiveWindow::Open(const char* path) {
    m_file.reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!m_file || !::GetFileSizeEx(m_file.get(), &size))
        return false;
    m_fileSize = static_cast<unsigned long long>(size.QuadPart);
    m_buffer.reset(new BYTE[kSize]);
    m_length = 0;
    return true;
}

const BYTE* CArchiveWindow::Read(size_t offset, size_t length, size_t fill) {
    if (length > kSize || offset > m_fileSize || m_fileSize - offset < length)
        return nullptr;
    if (offset >= m_start && offset - m_start <= m_length && m_length - (offset - m_start) >= length)
        return m_buffer.get() + (offset - m_start);
    DWORD wanted = static_cast<DWORD>(std::min<unsigned long long>(std::min(std::max(fill, length), kSize),
                                                                   m_fileSize - offset));
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD got = 0;
    m_length = 0;
    if (!::ReadFile(m_file.get(), m_buffer.get(), wanted, &got, &at) || got < length)
        return nullptr;
    m_start = offset;
    m_length = got;
    return m_buffer.get();
}

const BYTE* CArchiveWindow::ReadSome(size_t offset, size_t wanted, size_t& available) {
    if (offset >= m_start && offset - m_start < m_length) {
        available = std::min(wanted, m_length - (offset - m_start));
        return m_buffer.get() + (offset - m_start);
    }
    if (offset >= m_fileSize)
        return nullptr;
    available = static_cast<size_t>(std::min<unsigned long long>(std::min(wanted, kSize), m_fileSize - offset));
    return available > 0 ? Read(offset, available) : nullptr;
}

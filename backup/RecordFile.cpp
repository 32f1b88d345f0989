#include "RecordFile.h"

namespace {
// Far beyond any record of a real installation; a larger file is no record.
const DWORD kMostRecordBytes = 64 * 1024 * 1024;
}  // namespace

BOOL CRecordWriter::Create(const std::string& path) {
    m_nWritten = 0;
    m_file.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

BOOL CRecordWriter::Append(const std::string& path) {
    m_nWritten = 0;
    // Write access as a whole: a flush asks for it.
    m_file.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER none = {};
    if (m_file && !::SetFilePointerEx(m_file.get(), none, nullptr, FILE_END))
        m_file.reset();
    return IsOpen();
}

BOOL CRecordWriter::Write(const std::string& line) {
    const std::string bytes = line + "\r\n";
    DWORD written = 0;
    if (!m_file || !::WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return FALSE;
    m_nWritten += written;
    if (written == bytes.size())
        return TRUE;
    ::SetLastError(ERROR_DISK_FULL);  // a short write without an error: the disk took what it had room for
    return FALSE;
}

BOOL CRecordWriter::Flush() { return m_file && ::FlushFileBuffers(m_file.get()); }

BOOL ReplaceRecord(const std::string& path, const std::vector<std::string>& lines) {
    const std::string temp = path + ".tmp";
    CRecordWriter writer;
    BOOL written = writer.Create(temp);
    for (const std::string& line : lines)
        written = written && writer.Write(line);
    written = written && writer.Flush();
    writer.Close();
    if (written && ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TRUE;
    const DWORD error = ::GetLastError();
    ::DeleteFileA(temp.c_str());
    ::SetLastError(error);
    return FALSE;
}

CRecordState ReadRecordLines(const std::string& path, std::vector<std::string>& lines, bool& bCut) {
    lines.clear();
    bCut = false;
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kRecordMissing : kRecordDamaged;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > kMostRecordBytes)
        return kRecordDamaged;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() &&
        (!::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) || got != text.size()))
        return kRecordDamaged;
    // Zero bytes are what a power cut leaves of bytes written after the last flush, even when some bytes
    // behind them reached the disk: nothing from the first one on counts.
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        text.resize(zero);
        bCut = true;
    }
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            bCut = true;
            break;
        }
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= MAX_PATH + 1)  // a kind mark and a path of at most MAX_PATH - 1 bytes
            return kRecordDamaged;
        lines.push_back(line);
        at = end + 1;
    }
    return kRecordRead;
}

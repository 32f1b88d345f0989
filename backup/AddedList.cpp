#include "AddedList.h"

#include <cctype>
#include <cstdlib>

#include "Format.h"

std::string AddedLine(const CAddedEntry& entry) {
    if (entry.bFolder)
        return "D " + entry.path;
    return StrFormat("F %llu %016llX ", entry.size, entry.lastWrite) + entry.path;
}

BOOL ParseAddedLine(const std::string& line, CAddedEntry& entry) {
    entry = CAddedEntry();
    if (line.compare(0, 2, "D ") == 0) {
        entry.bFolder = true;
        entry.path = line.substr(2);
        return !entry.path.empty();
    }
    // "F <decimal> <16 hex digits> <path>"
    const char* at = line.c_str();
    char* end = nullptr;
    if (line.compare(0, 2, "F ") != 0 || !std::isdigit(static_cast<unsigned char>(at[2])))
        return FALSE;
    entry.size = std::strtoull(at + 2, &end, 10);
    if (*end != ' ' || line.size() < static_cast<size_t>(end - at) + 19 || end[17] != ' ')
        return FALSE;
    const std::string time(end + 1, 16);
    if (time.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return FALSE;
    entry.lastWrite = std::strtoull(time.c_str(), nullptr, 16);
    entry.path = std::string(end + 18);
    return !entry.path.empty();
}

bool ReadSizeAndTime(const std::string& path, CAddedEntry& entry) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    entry.size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    entry.lastWrite =
        static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

bool IsAsAdded(const CAddedEntry& entry) {
    CAddedEntry now;
    return ReadSizeAndTime(entry.path, now) && now.size == entry.size && now.lastWrite == entry.lastWrite;
}

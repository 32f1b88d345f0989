#pragma once
// What an update added to the installation, kept beside its rollback log as B.ADDn so that a restore can
// take the installation back to where it was: one line a file ("F <size> <last write time> <path>", the
// time as 16 hex digits of its FILETIME) or folder ("D <path>"), in the order they were made. Earlier
// versions neither write nor read it; the rollback log stays as it always was.
#include <windows.h>

#include <string>

struct CAddedEntry {
    bool bFolder = false;
    ULONGLONG size = 0;
    ULONGLONG lastWrite = 0;
    std::string path;
};

std::string AddedLine(const CAddedEntry& entry);
// FALSE for a line of another form.
BOOL ParseAddedLine(const std::string& line, CAddedEntry& entry);
// The size and last write time of the file at path into entry's.
bool ReadSizeAndTime(const std::string& path, CAddedEntry& entry);
// Whether the file at entry.path still has the size and time the update gave it.
bool IsAsAdded(const CAddedEntry& entry);

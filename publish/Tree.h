#pragma once
// The publisher's view of a folder tree: files under their member names.
#include <windows.h>

#include <string>
#include <vector>

#include "WideText.h"

struct CTreeFile {
    std::string name;    // code page 932, "/" between folders: the member name
    std::wstring path;   // where it is now
};

// Every file under root, sorted by member name. FALSE, with the reason, for a tree that
// cannot be read, a name that code page 932 cannot spell, or one whose installed path
// (a drive root and the name) would not fit in 260 bytes.
BOOL ListTree(const std::wstring& root, std::vector<CTreeFile>& files, std::string& error);
BOOL ReadWholeFile(const std::wstring& path, std::string& data, FILETIME* modified = nullptr);
// Creates path and writes data; FALSE after any failure.
BOOL WriteWholeFile(const std::wstring& path, const std::string& data);
BOOL IsFolder(const std::wstring& path);
// Whether path names a file or folder that exists.
BOOL Exists(const std::wstring& path);
// A wide text of ASCII characters (versions, file names that the options gave as such).
std::wstring Widened(const std::string& ascii);
// Code page 932 bytes of a wide text; FALSE when a character has no spelling there.
BOOL ToCodePage932(const std::wstring& text, std::string& bytes);

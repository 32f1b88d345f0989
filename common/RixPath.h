#pragma once
// Path and file helpers. Texts are code page 932 bytes; every routine that looks at
// single characters steps over double-byte characters, so a trail byte of 0x5C is
// never taken for a separator. A path that would not fit MAX_PATH is refused.
#include <windows.h>

#include <string>
#include <vector>

using CFindDataList = std::vector<WIN32_FIND_DATAA>;

int RixCharBytes(unsigned char c);
bool RixIsSeparator(unsigned char c);

// Replaces the components that are not null (the empty text removes one) and
// rebuilds the path. A result that would not fit MAX_PATH empties the path.
std::string& RixSetPathParts(std::string& path, const char* drive, const char* folder, const char* name,
                             const char* ext);
std::string RixJoinPath(const std::string& folder, const std::string& name);
std::string RixTrailBackslash(const std::string& path, BOOL bAdd);
void RixGetModulePath(std::string& out, BOOL bWithName);
// The absolute form of path, with "." and ".." resolved and "/" read as a separator; empty when it has none.
std::string RixFullPath(const std::string& path);
// The root a folder hangs from, with its separator: the drive (C:) or the network share (server and share
// name behind two separators); empty for neither.
std::string RixRootOf(const std::string& folder);
// Whether path lies inside folder (both full paths, folder with its trailing separator), ignoring the case of
// single-byte letters only.
bool RixIsInFolder(const std::string& path, const std::string& folder);

// Whether path names a file or folder that exists.
bool RixExists(const std::string& path);
BOOL RixMakeFolder(const std::string& path);
// Appends the files whose bare name matches pattern; cFileName holds the full path.
int RixFindFiles(const std::string& folder, const char* pattern, CFindDataList& list, BOOL bRecurse);
// 0 when the folder is gone or never existed, 1 when it could not be removed.
int RixDeleteFolder(const std::string& path);
// 0 same size and bytes, 1 different, 2 not comparable.
int RixCompareFiles(const std::string& path1, const std::string& path2);
// The same for two files already open for reading, each read from where it stands.
int RixCompareOpenFiles(HANDLE file1, HANDLE file2);

#pragma once
// Where a stored member name may be written: always below the target folder.
#include <string>

#include "ZipDirectory.h"

struct CMemberPath {
    std::wstring path;     // full path below the target folder
    std::string ansiPath;  // the same in the ANSI code page, for messages and callers
    bool isFolder = false;
    bool bLocalLimit = false;  // refused for a limit of this machine, not for the name itself
};

// root is the target folder as a full path with a trailing backslash. Refuses (false,
// with a reason) names that are absolute, carry a drive or stream, climb out with "..",
// cannot be named in the ANSI code page, or give a path of MAX_PATH bytes or more.
// Without keepFolders only the last component of the name is kept.
bool ResolveMemberPath(const CZipMember& member, const std::wstring& root, bool keepFolders, CMemberPath& out,
                       std::string& reason);

// The stored name in the ANSI code page for messages (as stored when it has no equivalent).
std::string MemberDisplayName(const CZipMember& member);

// Converts between the ANSI code page and UTF-16; false when a character has no equivalent.
bool AnsiToWide(const std::string& text, std::wstring& out);
bool WideToAnsi(const std::wstring& text, std::string& out);

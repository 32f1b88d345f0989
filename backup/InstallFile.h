#pragma once
// Putting a file in place so that, whenever the program stops, the installed file is
// either the whole old one or the whole new one.
#include <windows.h>

#include <string>

// The new content is written here first, beside its target; a kill leaves only this name.
const char kInstallTempSuffix[] = ".ZYNNEW";
// The running program's own file, renamed out of the way of its replacement.
const char kAsideSuffix[] = ".ZYNOLD";

// Copies source beside target under the temporary name, flushes it and renames it over
// target. FALSE with the system's error kept when it could not; no temporary file is left.
BOOL InstallFile(const std::string& source, const std::string& target);

// The line a failure message gains when the system's error has a cause worth naming.
std::string FailureCause(DWORD error);

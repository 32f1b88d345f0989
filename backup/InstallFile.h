#pragma once
// Putting a file in place so that, whenever the program stops, the installed file is
// either the whole old one or the whole new one.
#include <windows.h>

#include <string>

#include "Handle.h"
#include "RixFiles.h"

// The new content is put here first, beside its target; a kill leaves only this name.
const char kInstallTempSuffix[] = ".ZYNNEW";
// The running program's own file, renamed out of the way of its replacement.
const char kAsideSuffix[] = ".ZYNOLD";

// Where the new content comes from: a file of the update is copied, so that the installed
// file is made by the installation's folder (its security included); a backup, which that
// folder already holds, may instead become a second name of the same data.
enum class CSource { kUpdate, kBackup };

// Makes copy hold what source holds: a second name of the same data where the volume allows (nothing is
// written), a copy elsewhere and of the running program or a read-only file. Whatever copy named before
// goes first, so that writing through an old second name can never change source. Source already open
// (opened) is named through that handle, which is closed on return.
BOOL DuplicateFile(const std::string& source, const std::string& copy, CFileHandle opened = CFileHandle());

// Whether path names this program's own executable, which may only be put aside, never deleted or linked:
// a second name of a running image could not be deleted until the program ends.
bool IsOwnImage(const std::string& path);

// Puts source's content beside target under the temporary name, flushes it and renames it
// over target. FALSE with the system's error kept when it could not; no temporary file is left.
BOOL InstallFile(const std::string& source, const std::string& target, CSource kind);

// InstallFile in two halves, which may run on different threads: the content under the
// temporary name, still open; then its flush and the rename. Each fails as InstallFile.
// An update's file already open (opened) is copied from its start; a backup already open
// is named through that handle. The program's own image is always copied.
CFileHandle PlaceBeside(const std::string& source, const std::string& target, CSource kind,
                        CFileHandle opened = CFileHandle());
// Closes placed and deletes temp after a failure, keeping the system's error; FALSE.
BOOL FailWithout(const std::string& temp, CFileHandle& placed);
// After the rename, placed still holds the installed file when it could be renamed through it (else it is
// closed), so that the caller may flush the rename to the disk too.
BOOL PutInPlace(CFileHandle& placed, const std::string& target);


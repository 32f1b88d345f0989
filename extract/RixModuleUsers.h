#pragma once
// Which running programs have a module (DLL) loaded, through the process status API.
#include <windows.h>

#include <string>
#include <vector>

// Fills users as RixEnumModuleUsers does and returns how many entries it holds.
int RixGetModuleUsers(const std::string& module, std::vector<std::string>& users);
// Empties users, then appends the main executable of every process that has a module of
// exactly that path (ignoring case) loaded, in process enumeration order.
void RixEnumModuleUsers(const std::string& module, std::vector<std::string>& users);
// Empties modules, then appends the full file name of each module of the process, its
// main executable first; process id 0 is this program. TRUE when a name was appended.
BOOL RixGetProcessModules(DWORD processId, std::vector<std::string>& modules);

#include "RixModuleUsers.h"

#include <psapi.h>

#include <algorithm>

#include "Handle.h"

namespace {
// Fixed buffers; larger counts are cut to their size.
const DWORD kMaxProcesses = 4096;
const DWORD kMaxModules = 4096;
}  // namespace

int RixGetModuleUsers(const std::string& module, std::vector<std::string>& users) {
    RixEnumModuleUsers(module, users);
    return static_cast<int>(users.size());
}

void RixEnumModuleUsers(const std::string& module, std::vector<std::string>& users) {
    users.clear();
    DWORD processIds[kMaxProcesses];
    DWORD bytes = 0;
    if (!::EnumProcesses(processIds, sizeof(processIds), &bytes))
        return;  // no process list: no users
    DWORD count = std::min<DWORD>(bytes / sizeof(DWORD), kMaxProcesses);
    std::vector<std::string> modules;
    for (DWORD i = 0; i < count; ++i) {
        // This program is no user of its own files: it puts them aside when it replaces them.
        if (processIds[i] == 0 || processIds[i] == ::GetCurrentProcessId() ||
            !RixGetProcessModules(processIds[i], modules))
            continue;
        for (const std::string& name : modules)
            if (::lstrcmpiA(name.c_str(), module.c_str()) == 0)
                users.push_back(modules.front());
    }
}

BOOL RixGetProcessModules(DWORD processId, std::vector<std::string>& modules) {
    modules.clear();
    // The idle process that the enumeration lists first has id 0: read as this program.
    DWORD id = processId != 0 ? processId : ::GetCurrentProcessId();
    CKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process)
        return FALSE;
    HMODULE handles[kMaxModules];
    DWORD bytes = 0;
    // Without LIST_MODULES_ALL a 64-bit caller sees only the 64-bit modules of a 32-bit process.
    if (!::EnumProcessModulesEx(process.get(), handles, sizeof(handles), &bytes, LIST_MODULES_ALL))
        return FALSE;
    DWORD count = std::min<DWORD>(bytes / sizeof(HMODULE), kMaxModules);
    BOOL found = FALSE;
    for (DWORD i = 0; i < count; ++i) {
        char name[MAX_PATH];
        if (::GetModuleFileNameExA(process.get(), handles[i], name, MAX_PATH) > 0) {
            modules.push_back(name);
            found = TRUE;
        }
    }
    return found;
}

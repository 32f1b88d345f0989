#include "Backups.h"

#include "Format.h"
#include "Handle.h"
#include "RixPath.h"

// A file made in each folder that an update or a deletion writes first (the CAD folder, and the folder of
// the rollback logs and work records), gone again with its handle.
BOOL CBackups::CanWriteInstallation() {
    std::string records;
    GetWorkRecordName(1, records);
    RixSetPathParts(records, nullptr, nullptr, "", "");
    for (const std::string& folder : {m_installation.m_strCadFolder, records}) {
        const std::string probe = RixJoinPath(folder, StrFormat("~ZynUpdate%lu.tmp", ::GetCurrentProcessId()));
        CFileHandle file(::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (!file && ::GetLastError() == ERROR_ACCESS_DENIED)
            return FALSE;
    }
    return TRUE;
}

BOOL CBackups::HasBackups() { return !FindGenerations(FALSE).empty() || !FindGenerations(TRUE).empty(); }

#include "InstallationLock.h"

#include <sddl.h>

#include <cctype>

#include "Format.h"
#include "RixPath.h"

namespace {
// Names the folder whatever its spelling: case of single-byte letters and the kind of separator aside.
std::string LockName(const std::string& cadFolder) {
    std::string key;
    for (size_t i = 0; i < cadFolder.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(cadFolder[i]);
        if (RixCharBytes(c) == 2 && i + 1 < cadFolder.size())
            key += cadFolder.substr(i++, 2);
        else
            key += RixIsSeparator(c) ? '\\' : static_cast<char>(std::tolower(c));
    }
    ULONGLONG hash = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : key)
        hash = (hash ^ c) * 1099511628211ULL;
    return StrFormat("ZynUpdate.%016llX", hash);
}

// Every session's copies see the same lock, whoever made it: an elevated copy and its caller included.
HANDLE CreateSharedMutex(const std::string& name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;WD)S:(ML;;NW;;;LW)", SDDL_REVISION_1,
                                                               &descriptor, nullptr))
        security.lpSecurityDescriptor = descriptor;
    const CLocalMemory owner(descriptor);
    HANDLE mutex = ::CreateMutexA(&security, FALSE, ("Global\\" + name).c_str());
    if (!mutex && ::GetLastError() != ERROR_ACCESS_DENIED)
        mutex = ::CreateMutexA(&security, FALSE, ("Local\\" + name).c_str());
    return mutex;
}
}  // namespace

BOOL CInstallationLock::Acquire(const std::string& cadFolder) {
    if (!m_mutex)
        m_mutex.reset(CreateSharedMutex(LockName(RixFullPath(cadFolder))));
    // A lock that cannot even be opened is held by a copy that made it for itself alone.
    if (!m_mutex)
        return FALSE;
    const DWORD waited = ::WaitForSingleObject(m_mutex.get(), 0);
    // Abandoned: a copy was killed while it held the lock; what it left is for this one to recover.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return FALSE;
    ++m_nHeld;
    return TRUE;
}

void CInstallationLock::Release() {
    if (m_nHeld == 0)
        return;
    --m_nHeld;
    ::ReleaseMutex(m_mutex.get());
}

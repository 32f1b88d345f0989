#pragma once
// One copy of the program at a time changes an installation: a named mutex that the CAD folder names.
// Several copies may look (check, show), only the holder updates, restores, deletes or recovers.
#include <windows.h>

#include <string>

#include "Handle.h"

class CInstallationLock {
public:
    // TRUE once this process holds the lock of cadFolder (again: the holder may take it more than once);
    // FALSE while another process holds it.
    BOOL Acquire(const std::string& cadFolder);
    // Gives up one Acquire; the lock goes with the last one, or with the process.
    void Release();
    // Gives up every Acquire, for another process to take the lock.
    void ReleaseAll() {
        while (m_nHeld > 0)
            Release();
    }

private:
    CKernelHandle m_mutex;
    int m_nHeld = 0;
};

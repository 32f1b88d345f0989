#pragma once
// Renames and deletions as an installation needs them: a read-only name is no obstacle (its
// attribute stays with its data), and a virus scanner that holds a file that was just written for
// a moment is waited for a while before the step counts as failed.
#include <windows.h>

#include <functional>
#include <string>

#include "Handle.h"
#include "Person.h"

// Runs attempt until it succeeds, again while it fails with a sharing or lock violation, for at most
// about two seconds; the system's error of the last attempt is kept.
bool RixPatiently(const std::function<bool()>& attempt);

// A read-only file cannot be renamed over: its attribute goes for the rename, by its name, as no handle of
// it may be open then, and comes back unless Done() says the rename went through. The data it named goes
// with the rename.
class CReadOnlyTarget {
public:
    explicit CReadOnlyTarget(const std::string& path);
    ~CReadOnlyTarget();
    void Done() { m_nAttributes = 0; }
    CReadOnlyTarget(const CReadOnlyTarget&) = delete;
    CReadOnlyTarget& operator=(const CReadOnlyTarget&) = delete;

private:
    std::string m_path;
    DWORD m_nAttributes = 0;
};

// Renames from over to, read-only or not, patiently.
BOOL RixMoveFile(const std::string& from, const std::string& to);
// Deletes a name, read-only or not, patiently; one that does not exist counts as deleted.
BOOL RixDeleteFile(const std::string& path);

// The line a failure message gains when the system's error has a cause worth naming.
std::string FailureCause(DWORD error);
// What the system's error says of a failed file step.
CCause CauseOfError(DWORD error);

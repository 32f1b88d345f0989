#pragma once
// Renames and deletions as an installation needs them: a read-only name is no obstacle (its
// attribute stays with its data), and a virus scanner that holds a file that was just written for
// a moment is waited for a while before the step counts as failed.
#include <windows.h>

#include <functional>
#include <string>

#include "Handle.h"
#include "Person.h"

// Runs rename, which names something to, over whatever to names, read-only or not, patiently: again
// while a sharing or lock violation stands in its way, for at most about two seconds. The system's error
// of the last attempt is kept.
BOOL RixRenameOver(const std::string& to, const std::function<bool()>& rename);
// Renames from over to, read-only or not, patiently.
BOOL RixMoveFile(const std::string& from, const std::string& to);
// Deletes a name, read-only or not, patiently; one that does not exist counts as deleted.
BOOL RixDeleteFile(const std::string& path);

// What the system's error says of a failed file step.
CCause CauseOfError(DWORD error);
// Shows text about a failed file step, with a line more where the system's error has a cause worth
// naming (a full disk), and with the cause that error gives; the person's answer.
int ShowFileFailure(CPerson& person, const std::string& text, const std::string& caption, DWORD error);

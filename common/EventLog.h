#pragma once
// The run's log for administrators and support: one UTF-8 line per event, appended, each behind
// its local time in ISO 8601 ("2026-12-07T19:20:00.125+09:00"). The program's texts (code page 932)
// go in as they would be shown, a line break written as " / ". A log that cannot be opened or
// written stops nothing: the events are simply not kept.
#include <windows.h>

#include <string>

#include "Handle.h"

class CEventLog {
public:
    // Appends to path (code page 932, or as the system spells it) from now on; FALSE when it cannot be
    // opened (then nothing is written).
    BOOL Open(const std::string& path);
    BOOL Open(const std::wstring& path);
    bool IsOpen() const { return static_cast<bool>(m_file); }
    void Write(const std::string& text);

private:
    CFileHandle m_file;
};

// The local time as the log writes it.
std::string LocalTimeStamp();

#include "EventLog.h"

#include <cstdlib>

#include "Format.h"
#include "WideText.h"

BOOL CEventLog::Open(const std::string& path) { return Open(WideFromText(path)); }

BOOL CEventLog::Open(const std::wstring& path) {
    m_file.reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

void CEventLog::Write(const std::string& text) {
    if (!m_file)
        return;
    std::wstring wide = WideFromText(text);
    std::wstring line;
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n')
            continue;
        line += wide[i] == L'\n' || wide[i] == L'\r' ? std::wstring(L" / ") : std::wstring(1, wide[i]);
    }
    const std::string utf8 = LocalTimeStamp() + " " + Utf8Of(line) + "\r\n";
    DWORD written = 0;
    // Appending, every line goes after the last whatever other writers did meanwhile.
    ::WriteFile(m_file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::string LocalTimeStamp() {
    SYSTEMTIME utc, local;
    ::GetSystemTime(&utc);
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = utc;
    FILETIME utcTime, localTime;
    ::SystemTimeToFileTime(&utc, &utcTime);
    ::SystemTimeToFileTime(&local, &localTime);
    const LONGLONG difference = (static_cast<LONGLONG>(localTime.dwHighDateTime) << 32 | localTime.dwLowDateTime) -
                                (static_cast<LONGLONG>(utcTime.dwHighDateTime) << 32 | utcTime.dwLowDateTime);
    const long minutes = static_cast<long>(difference / 600000000LL);
    return StrFormat("%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02ld:%02ld", local.wYear, local.wMonth, local.wDay,
                     local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, minutes < 0 ? '-' : '+',
                     std::labs(minutes) / 60, std::labs(minutes) % 60);
}

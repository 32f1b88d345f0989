#include "RixLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Handle.h"

namespace {
const int kBufferBytes = 65536;  // a message or a line of at most 65,535 bytes and its zero byte
const char kMailslotName[] = "\\\\.\\mailslot\\rix_console";
const char kSetPathCommand[] = "SetRixPrintfLogFilePath";
const size_t kSetPathCommandBytes = sizeof(kSetPathCommand) - 1;

// Empty: no file sink. Set only by the path command.
char g_logFilePath[MAX_PATH] = "";

// The console program owns the mailslot; without it there is nobody to tell.
void SendToMailslot(const char* line, int length) {
    CFileHandle slot(::CreateFileA(kMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!slot)
        return;
    DWORD written = 0;
    ::WriteFile(slot.get(), line, static_cast<DWORD>(length) + 1, &written, nullptr);
}

// Text mode: every line feed reaches the file as CR LF.
void AppendToLogFile(const char* line, int length) {
    if (g_logFilePath[0] == '\0')
        return;
    CStdioFile file(std::fopen(g_logFilePath, "at"));
    if (file)
        std::fwrite(line, 1, static_cast<size_t>(length), file.get());
}
}  // namespace

int RixPrintf(const char* origin, int number, const char* format, ...) {
    char message[kBufferBytes];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (length < 0 || length >= kBufferBytes)
        return -1;

    if (static_cast<size_t>(length) >= kSetPathCommandBytes &&
        std::memcmp(message, kSetPathCommand, kSetPathCommandBytes) == 0) {
        const char* path = message + kSetPathCommandBytes;
        size_t pathBytes = static_cast<size_t>(length) - kSetPathCommandBytes;
        if (pathBytes >= sizeof(g_logFilePath))
            return -1;  // refused: the path in use stays
        std::memcpy(g_logFilePath, path, pathBytes + 1);
        return 0;
    }

    const char* line = message;
    int lineLength = length;
    char composed[kBufferBytes];
    if (origin) {
        if (length > 0 && message[length - 1] == '\n')
            message[length - 1] = '\0';
        // A long message with an origin is cut at the end of the line buffer.
        int composedLength = std::snprintf(composed, sizeof(composed), "%s [%s(%d)]\n", message, origin, number);
        if (composedLength < 0)
            return -1;
        line = composed;
        lineLength = composedLength < kBufferBytes ? composedLength : kBufferBytes - 1;
    }

    SendToMailslot(line, lineLength);
    AppendToLogFile(line, lineLength);
    return length;
}

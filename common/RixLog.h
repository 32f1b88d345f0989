#pragma once

// Diagnostic log: one message to the "\\.\mailslot\rix_console" reader and, when a
// path was set with "SetRixPrintfLogFilePath", appended to that file.
// Returns the message length, 0 for the path command, negative on failure.
int RixPrintf(const char* origin, int number, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));

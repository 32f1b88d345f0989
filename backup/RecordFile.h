#pragma once
// The small text files that recovery and restore rely on: work records, rollback logs and the lists of
// files an update added. Lines end in CR LF. They are written through the system, not a stream buffer,
// so that a failed write (a full disk) is seen at once, and read whole, so that a cut or damaged file is
// told apart from a short one.
#include <windows.h>

#include <string>
#include <vector>

#include "Handle.h"

class CRecordWriter {
public:
    // Creates path anew, replacing a file of that name.
    BOOL Create(const std::string& path);
    // Opens path to write after its end.
    BOOL Append(const std::string& path);
    // The line and its line end; FALSE, with the system's error kept, when not all of it was written.
    BOOL Write(const std::string& line);
    // Everything written so far reaches the disk.
    BOOL Flush();
    void Close() { m_file.reset(); }
    bool IsOpen() const { return static_cast<bool>(m_file); }
    // Nothing written since Create.
    bool IsEmpty() const { return m_nWritten == 0; }

private:
    CFileHandle m_file;
    ULONGLONG m_nWritten = 0;
};

// Writes lines to a temporary name beside path, flushes them and renames them over path, so that path holds
// either its old lines or all the new ones, whenever the program stops.
BOOL ReplaceRecord(const std::string& path, const std::vector<std::string>& lines);

enum CRecordState {
    kRecordRead,     // lines hold every whole line (none for an empty file)
    kRecordMissing,  // no such file
    kRecordDamaged,  // unreadable, or a line too long to name a file
};

// Reads every line of path, without line ends. What only a write cut short leaves is not among them, and
// bCut tells whether there was any: a last line without its line end, or everything from a zero byte on
// (the system kept the file's new length but not all the bytes written since its last flush).
CRecordState ReadRecordLines(const std::string& path, std::vector<std::string>& lines, bool& bCut);

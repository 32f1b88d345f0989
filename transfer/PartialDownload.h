#pragma once
// A download that stops keeps its bytes in <file>.tmp and, beside them in a small text
// file, what names the server's file they are the start of. The next download of the
// same URL then asks only for the rest, and only while the server's file is unchanged.
#include <windows.h>

#include <string>

struct CDownloadSource {
    std::string url;
    ULONGLONG length = 0;    // of the whole file
    std::string validator;   // a strong ETag, else the Last-Modified date: sent back as If-Range
};

// Where the source of the partial download at partial is kept.
std::string DownloadSourcePath(const std::string& partial);
// Lines: the URL, the length, the validator. Either call fails on a source it cannot keep or use.
BOOL ReadDownloadSource(const std::string& path, CDownloadSource& source);
BOOL WriteDownloadSource(const std::string& path, const CDownloadSource& source);

// A plain decimal byte count, the whole text: anything else (even empty) is no count.
BOOL ParseByteCount(const std::string& text, ULONGLONG& count);
// "bytes first-last/length", as a 206 answer's Content-Range gives the part it carries.
BOOL ParseContentRange(const std::string& text, ULONGLONG& first, ULONGLONG& last, ULONGLONG& length);

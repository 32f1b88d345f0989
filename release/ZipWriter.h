#pragma once
// A zip archive built in memory after whatever the output already holds (an
// executable stub): every offset counts from the start of the output, so the
// result reads as a plain zip and as a self-extracting one. Members are deflated.
#include <windows.h>

#include <string>

class CZipWriter {
public:
    explicit CZipWriter(std::string& output) : m_output(output) {}
    // name: code page 932, "/" between folders. FALSE beyond what a zip without
    // its 64-bit extension holds (4 GB, 65535 members) or when zlib fails.
    BOOL Add(const std::string& name, const std::string& data, FILETIME modified);
    // Writes the central directory and its end record.
    BOOL Finish();

private:
    std::string& m_output;
    std::string m_directory;
    WORD m_nMembers = 0;
};

// data as a zip member holds it deflated (raw deflate, best compression).
BOOL DeflateBytes(const std::string& data, std::string& packed);

#pragma once
// How a download of a known length is cut into blocks and shown on the progress bar.
#include <windows.h>

const DWORD kDownloadBlockBytes = 1024;

// The blocks that cover length bytes; 0 bytes give no block.
inline ULONGLONG DownloadBlockCount(ULONGLONG length) {
    return (length + kDownloadBlockBytes - 1) / kDownloadBlockBytes;
}

// Size of block k: a whole block, or what remains of the length for the last one.
inline DWORD DownloadBlockSize(ULONGLONG length, ULONGLONG block) {
    ULONGLONG remaining = length - block * kDownloadBlockBytes;
    return remaining >= kDownloadBlockBytes ? kDownloadBlockBytes : static_cast<DWORD>(remaining);
}

// Bar position (0..100) after block k: the share of blocks done before it, so the
// first block shows 0 and the last stays below 100.
inline int DownloadPosition(ULONGLONG block, ULONGLONG blocks) { return static_cast<int>(block * 100 / blocks); }

// The unzip DLL reads no archive of 4 GB or more; a longer announced length is refused.
const ULONGLONG kMaxUpdateBytes = 0xFFFFFFFF;

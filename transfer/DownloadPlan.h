#pragma once
// How a download hands its bytes from the network to the file and shows them.
#include <windows.h>

// The reader wakes the copy once this many bytes have gathered, else at each interval.
const DWORD kDownloadBatchBytes = 1024 * 1024;
// Reading pauses while this many bytes wait to be written, so a slow disk bounds the memory.
const DWORD kDownloadQueueBytes = 8 * 1024 * 1024;

// Bar position (0..100) once done of total bytes are on disk; nothing to fetch is all done.
inline int DownloadPosition(ULONGLONG done, ULONGLONG total) {
    return total == 0 ? 100 : static_cast<int>(done * 100 / total);
}

// The unzip DLL reads no archive of 4 GB or more; a longer announced length is refused.
const ULONGLONG kMaxUpdateBytes = 0xFFFFFFFF;

#pragma once
// How a download hands its bytes from the network to the file and shows them.
#include <windows.h>

#include <deque>
#include <utility>

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

// The lowest speed a download may keep: under 1 KiB/s averaged over a minute, the server is
// too slow to finish in any time a user would wait, and the download fails.
const ULONGLONG kLowestSpeedWindowMs = 60000;
const ULONGLONG kLowestSpeedBytes = 60 * 1024;

class CSpeedFloor {
public:
    CSpeedFloor(ULONGLONG now, ULONGLONG done) { m_samples.push_back({now, done}); }
    // Notes that done bytes have arrived by now (a clock in milliseconds); TRUE once the last
    // window moved fewer than kLowestSpeedBytes.
    BOOL TooSlow(ULONGLONG now, ULONGLONG done) {
        m_samples.push_back({now, done});
        // The oldest sample kept is the newest one that is a whole window old.
        while (m_samples.size() > 1 && now - m_samples[1].first >= kLowestSpeedWindowMs)
            m_samples.pop_front();
        return now - m_samples.front().first >= kLowestSpeedWindowMs && done - m_samples.front().second < kLowestSpeedBytes;
    }

private:
    std::deque<std::pair<ULONGLONG, ULONGLONG>> m_samples;  // (time, bytes done)
};

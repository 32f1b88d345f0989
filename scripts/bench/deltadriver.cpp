// Makes or applies one delta for scripts/bench/deltas.py, timed, with the process's peak memory:
//   zyndelta make <old> <new> <delta> [window]  prints "make <seconds> <delta bytes> <peak KB> <KB after reading>"
//   zyndelta apply <old> <delta> <new>          prints "apply <seconds> <result> <peak KB>"
// make reads both files whole first, as the publisher does; its own memory is the
// difference of the two figures.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Delta.h"
#include "Handle.h"

namespace {
BOOL ReadWhole(const char* path, std::string& bytes) {
    CFileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        return FALSE;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    for (size_t at = 0; at < bytes.size();) {
        DWORD got = 0;
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 30));
        if (!::ReadFile(file.get(), &bytes[at], part, &got, nullptr) || got != part)
            return FALSE;
        at += got;
    }
    return TRUE;
}

BOOL WriteWhole(const char* path, const std::string& bytes) {
    CFileHandle file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

unsigned long long PeakKb() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize / 1024;
}

double Seconds(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}
}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    LARGE_INTEGER start;
    if (command == "make" && argc >= 5) {
        std::string older, newer, delta;
        if (!ReadWhole(argv[2], older) || !ReadWhole(argv[3], newer)) {
            std::printf("make: cannot read the files\n");
            return 1;
        }
        const unsigned long long afterReading = PeakKb();
        ::QueryPerformanceCounter(&start);
        const size_t window = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : kDeltaWindow;
        if (!MakeDelta(older, newer, delta, window) || !WriteWhole(argv[4], delta)) {
            std::printf("make: failed\n");
            return 1;
        }
        std::printf("make %.3f %zu %llu %llu\n", Seconds(start), delta.size(), PeakKb(), afterReading);
        return 0;
    }
    if (command == "apply" && argc == 5) {
        ::QueryPerformanceCounter(&start);
        DWORD error = 0;
        const DeltaResult result = ApplyDelta(argv[2], argv[3], argv[4], &error);
        std::printf("apply %.3f %d %llu\n", Seconds(start), static_cast<int>(result), PeakKb());
        return result == kDeltaApplied ? 0 : 1;
    }
    std::fprintf(stderr, "usage: zyndelta make <old> <new> <delta> [window] | apply <old> <delta> <new>\n");
    return 2;
}

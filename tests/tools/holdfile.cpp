// holdfile <path> [seconds]: holds the file open without sharing until it is ended,
// or for the given time (default 60 seconds). Exit code 1: the file could not be opened.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    HANDLE file = ::CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    ::Sleep((argc > 2 ? std::atoi(argv[2]) : 60) * 1000);
    return 0;  // ending the process lets go
}

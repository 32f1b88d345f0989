// loaddll <path> [seconds]: keeps the DLL loaded until it is ended, or for the given
// time (default 60 seconds). Exit code 1: the DLL could not be loaded.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    HMODULE module = ::LoadLibraryA(argv[1]);
    if (!module)
        return 1;
    ::Sleep((argc > 2 ? std::atoi(argv[2]) : 60) * 1000);
    return 0;  // ending the process lets go
}

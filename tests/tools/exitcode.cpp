// Test helper: "exitcode.exe <code> [milliseconds]" waits that long, then exits with code.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 255;
    if (argc >= 3)
        ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return static_cast<int>(std::strtoul(argv[1], nullptr, 10));
}

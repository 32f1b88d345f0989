// The programs the tests start, built once under each name; what it does follows its name:
//   exitcode <code> [ms]    waits, then exits with code
//   showwindow              exits with the show command it was started with (255: none)
//   holdfile <path> [s]     holds the file open without sharing (exit 1: it could not)
//   loaddll <path> [s]      keeps the DLL loaded (exit 1: it could not)
//   ZynImpDataManager ...   writes its command line to ZynImpDataManager.args beside itself
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// Written under another name first, so that a reader never sees half a record.
int RecordCommandLine(std::string self) {
    std::string record = self.substr(0, self.find_last_of('\\') + 1) + "ZynImpDataManager.args";
    FILE* out = std::fopen((record + ".part").c_str(), "wb");
    bool written = out && std::fputs(::GetCommandLineA(), out) >= 0;
    written = out && std::fclose(out) == 0 && written;
    return written && ::MoveFileExA((record + ".part").c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    char self[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string name = self;
    name = name.substr(name.find_last_of('\\') + 1);
    name = name.substr(0, name.find('.'));
    if (name == "exitcode") {
        ::Sleep(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0);
        return argc > 1 ? static_cast<int>(std::strtoul(argv[1], nullptr, 10)) : 255;
    }
    if (name == "showwindow") {
        STARTUPINFOA startup = {};
        ::GetStartupInfoA(&startup);
        return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 255;
    }
    if (name == "holdfile" || name == "loaddll") {
        // Ending the process lets go.
        bool held = argc > 1 && (name == "holdfile" ? ::CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                                    0, nullptr) != INVALID_HANDLE_VALUE
                                                    : ::LoadLibraryA(argv[1]) != nullptr);
        ::Sleep(held ? (argc > 2 ? std::atoi(argv[2]) : 60) * 1000 : 0);
        return held ? 0 : 1;
    }
    return RecordCommandLine(self);
}

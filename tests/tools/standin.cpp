// The programs the tests start, built once under each name; what it does follows its name:
//   exitcode <code> [ms]    waits, then exits with code
//   showwindow              exits with the show command it was started with (255: none)
//   holdfile <path> [s] [read]  holds the file open without sharing, or sharing reads, and says "held"
//                           (exit 1: it could not)
//   loaddll <path> [s]      keeps the DLL loaded (exit 1: it could not)
//   writefile <path> <text> rewrites the file, or renames it away and writes a new one, as another program
//                           of the user might (exit 1: it could do neither)
//   runlinux <status> <program> [args]  starts a Linux program, which Wine does not wait for, and
//                           exits with the code that it writes to the status file (255: none in a minute)
//   ZynImpDataManager ...   writes its command line to ZynImpDataManager.args beside itself
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
        DWORD sharing = argc > 3 && std::string(argv[3]) == "read" ? FILE_SHARE_READ : 0;
        bool held = argc > 1 && (name == "holdfile" ? ::CreateFileA(argv[1], GENERIC_READ, sharing, nullptr,
                                                                    OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE
                                                    : ::LoadLibraryA(argv[1]) != nullptr);
        if (held)  // a test that reads this line knows the file is held from now on
            std::puts("held"), std::fflush(stdout);
        ::Sleep(held ? (argc > 2 ? std::atoi(argv[2]) : 60) * 1000 : 0);
        return held ? 0 : 1;
    }
    if (name == "writefile" && argc > 2) {
        auto write = [&](DWORD disposition) {
            HANDLE file = ::CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, disposition, 0, nullptr);
            DWORD written = 0;
            bool done = file != INVALID_HANDLE_VALUE &&
                        ::WriteFile(file, argv[2], static_cast<DWORD>(std::strlen(argv[2])), &written, nullptr) &&
                        ::SetEndOfFile(file);
            if (file != INVALID_HANDLE_VALUE)
                ::CloseHandle(file);
            return done;
        };
        const std::string aside = std::string(argv[1]) + ".old";
        return write(OPEN_EXISTING) || (::MoveFileExA(argv[1], aside.c_str(), 0) && write(CREATE_NEW)) ? 0 : 1;
    }
    if (name == "runlinux") {
        std::string command;
        for (int i = 2; i < argc; ++i)
            command += std::string(i > 2 ? " \"" : "\"") + argv[i] + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started = {};
        ::DeleteFileA(argc > 2 ? argv[1] : "");
        if (argc < 3 || !::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                          &started))
            return 255;
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
        for (int tenths = 0; tenths < 600; ++tenths, ::Sleep(100)) {
            int code = 0;
            if (std::ifstream(argv[1]) >> code)
                return code;
        }
        return 255;
    }
    return RecordCommandLine(self);
}

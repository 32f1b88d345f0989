// Plays the console program that reads the diagnostic log: creates the mailslot,
// then copies every message to standard output (without its zero byte) until the
// given number of seconds has passed since the last message.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    DWORD quietMilliseconds = static_cast<DWORD>(argc > 1 ? std::atoi(argv[1]) * 1000 : 30000);
    HANDLE slot = ::CreateMailslotA("\\\\.\\mailslot\\rix_console", 0, 100, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    DWORD lastMessage = ::GetTickCount();
    while (::GetTickCount() - lastMessage < quietMilliseconds) {
        DWORD next = 0, count = 0;
        if (!::GetMailslotInfo(slot, nullptr, &next, &count, nullptr))
            break;
        if (next == MAILSLOT_NO_MESSAGE) {
            ::Sleep(50);
            continue;
        }
        std::vector<char> message(next);
        DWORD read = 0;
        if (!::ReadFile(slot, message.data(), next, &read, nullptr))
            break;
        if (read > 0 && message[read - 1] == '\0')
            --read;
        std::fwrite(message.data(), 1, read, stdout);
        std::fflush(stdout);
        lastMessage = ::GetTickCount();
    }
    ::CloseHandle(slot);
    return 0;
}

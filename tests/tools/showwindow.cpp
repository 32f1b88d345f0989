// Test helper: exits with the show command it was started with, 255 when none was given.
#include <windows.h>

int main() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    ::GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 255;
}

// Test window helper: starts a program, lists the windows of that process (dialogs
// and message boxes, with every control's id, class, text and state), clicks
// buttons and waits for the exit code. It reads one command per line on standard
// input and answers each with one line of JSON (texts in UTF-8):
//   setenv <name> <value>       -> sets a variable that the started program inherits
//   start <command line>        -> {"ok":true,"pid":N}
//   windows                     -> {"ok":true,"windows":[...]}, visible top-level windows
//   click <hwnd> <control id>   -> posts BM_CLICK to the control
//   command <hwnd> <id>         -> posts WM_COMMAND with id to the window (2 = Escape)
//   minimize <hwnd> | restore <hwnd>
//   exitcode <milliseconds>     -> {"ok":true,"exited":true,"code":N} or exited false
//   kill                        -> ends the program
//   quit
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
HANDLE g_process = nullptr;
DWORD g_pid = 0;

std::string ToUtf8(const std::string& ansi) {
    if (ansi.empty())
        return ansi;
    int wide = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &text[0], wide);
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

std::string Json(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Texts of another process's windows come only through WM_GETTEXT.
std::string WindowText(HWND hWnd) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutA(hWnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 2000,
                          &copied);
    text.resize(copied);
    return text;
}

std::string ClassName(HWND hWnd) {
    char name[256] = "";
    ::GetClassNameA(hWnd, name, sizeof(name));
    return name;
}

std::string Handle(HWND hWnd) { return std::to_string(reinterpret_cast<UINT_PTR>(hWnd)); }

std::string DescribeControl(HWND control, HWND dialog) {
    RECT rect;
    ::GetWindowRect(control, &rect);
    POINT origin = {rect.left, rect.top};
    ::ScreenToClient(dialog, &origin);
    std::string cls = ClassName(control);
    LONG style = ::GetWindowLongA(control, GWL_STYLE);
    std::string json = "{\"hwnd\":" + Handle(control) + ",\"id\":" + std::to_string(::GetDlgCtrlID(control) & 0xFFFF) +
                       ",\"class\":" + Json(ToUtf8(cls)) + ",\"text\":" + Json(ToUtf8(WindowText(control))) +
                       ",\"style\":" + std::to_string(static_cast<unsigned long>(style)) +
                       ",\"exstyle\":" + std::to_string(static_cast<unsigned long>(::GetWindowLongA(control, GWL_EXSTYLE))) +
                       ",\"enabled\":" + (::IsWindowEnabled(control) ? "true" : "false") +
                       ",\"visible\":" + (::IsWindowVisible(control) ? "true" : "false");
    if (_stricmp(cls.c_str(), "Button") == 0) {
        DWORD_PTR check = 0;
        ::SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
        json += ",\"checked\":" + std::to_string(check);
    }
    if (_stricmp(cls.c_str(), "Static") == 0) {
        DWORD_PTR icon = 0;
        ::SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
        json += std::string(",\"has_icon\":") + (icon ? "true" : "false");
    }
    json += ",\"rect\":[" + std::to_string(origin.x) + "," + std::to_string(origin.y) + "," +
            std::to_string(rect.right - rect.left) + "," + std::to_string(rect.bottom - rect.top) + "]}";
    return json;
}

struct Found {
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND hWnd, LPARAM lParam) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid == g_pid && ::IsWindowVisible(hWnd))
        reinterpret_cast<Found*>(lParam)->windows.push_back(hWnd);
    return TRUE;
}

std::string DescribeWindow(HWND hWnd) {
    std::string json = "{\"hwnd\":" + Handle(hWnd) + ",\"class\":" + Json(ToUtf8(ClassName(hWnd))) +
                       ",\"caption\":" + Json(ToUtf8(WindowText(hWnd))) +
                       ",\"owner\":" + Handle(::GetWindow(hWnd, GW_OWNER)) +
                       ",\"enabled\":" + (::IsWindowEnabled(hWnd) ? "true" : "false") +
                       ",\"iconic\":" + (::IsIconic(hWnd) ? "true" : "false") + ",\"controls\":[";
    bool first = true;
    for (HWND child = ::GetWindow(hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        json += (first ? "" : ",") + DescribeControl(child, hWnd);
        first = false;
    }
    return json + "]}";
}

void Reply(const std::string& json) {
    std::fputs(json.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void Fail(const std::string& why) { Reply("{\"ok\":false,\"error\":" + Json(why) + "}"); }

HWND ParseHandle(const char* text) { return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(text, nullptr, 10))); }

void Start(const std::string& commandLine) {
    if (g_process) {
        ::CloseHandle(g_process);
        g_process = nullptr;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // Wine's loader now and then fails a start with an internal error; a second try starts it.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        std::vector<char> copy = line;
        started = ::CreateProcessA(nullptr, copy.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
        error = started ? 0 : ::GetLastError();
        if (!started && error != ERROR_INTERNAL_ERROR)
            break;
        if (!started)
            ::Sleep(250);
    }
    if (!started) {
        Fail("CreateProcess failed: " + std::to_string(error));
        return;
    }
    ::CloseHandle(info.hThread);
    g_process = info.hProcess;
    g_pid = info.dwProcessId;
    Reply("{\"ok\":true,\"pid\":" + std::to_string(g_pid) + "}");
}
}  // namespace

int main() {
    char buffer[8192];
    while (std::fgets(buffer, sizeof(buffer), stdin)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        std::string verb = line.substr(0, line.find(' '));
        std::string rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : std::string();
        char first[64] = "", second[64] = "";
        std::sscanf(rest.c_str(), "%63s %63s", first, second);

        if (verb == "setenv") {
            std::string value = rest.size() > std::strlen(first) ? rest.substr(std::strlen(first) + 1) : std::string();
            ::SetEnvironmentVariableA(first, value.empty() ? nullptr : value.c_str());
            Reply("{\"ok\":true}");
        } else if (verb == "start") {
            Start(rest);
        } else if (verb == "windows") {
            Found found;
            ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&found));
            std::string json = "{\"ok\":true,\"windows\":[";
            for (size_t i = 0; i < found.windows.size(); ++i)
                json += (i ? "," : "") + DescribeWindow(found.windows[i]);
            Reply(json + "]}");
        } else if (verb == "click") {
            HWND control = ::GetDlgItem(ParseHandle(first), std::atoi(second));
            if (control && ::PostMessageA(control, BM_CLICK, 0, 0))
                Reply("{\"ok\":true}");
            else
                Fail("no such control");
        } else if (verb == "command") {
            if (::PostMessageA(ParseHandle(first), WM_COMMAND, MAKEWPARAM(std::atoi(second), BN_CLICKED), 0))
                Reply("{\"ok\":true}");
            else
                Fail("no such window");
        } else if (verb == "minimize" || verb == "restore") {
            ::PostMessageA(ParseHandle(first), WM_SYSCOMMAND, verb == "minimize" ? SC_MINIMIZE : SC_RESTORE, 0);
            Reply("{\"ok\":true}");
        } else if (verb == "exitcode") {
            if (!g_process) {
                Fail("nothing started");
                continue;
            }
            DWORD wait = ::WaitForSingleObject(g_process, static_cast<DWORD>(std::atoi(first)));
            DWORD code = 0;
            ::GetExitCodeProcess(g_process, &code);
            if (wait == WAIT_OBJECT_0)
                Reply("{\"ok\":true,\"exited\":true,\"code\":" + std::to_string(static_cast<long>(code)) + "}");
            else
                Reply("{\"ok\":true,\"exited\":false}");
        } else if (verb == "kill") {
            if (g_process)
                ::TerminateProcess(g_process, 255);
            Reply("{\"ok\":true}");
        } else if (verb == "quit") {
            Reply("{\"ok\":true}");
            break;
        } else {
            Fail("unknown command");
        }
    }
    if (g_process)
        ::CloseHandle(g_process);
    return 0;
}

// Test window helper: starts a program, describes the visible top-level windows of that
// process and of those it started, with every control, clicks buttons and waits for the
// exit code. One command per line on standard input, one line of JSON per answer, both in
// UTF-8; texts go through the wide calls, so the system's code page does not matter:
//   setenv <name> <value>       the started program inherits it (no value: removed)
//   start <command line>        -> "pid"
//   windows                     -> "windows": [{hwnd, pid, caption, enabled, rect: [left, top, right, bottom],
//                                               controls: [...]}]
//   click <hwnd> <control id>   posts BM_CLICK to the control
//   command <hwnd> <id>         posts WM_COMMAND with id (2 = Escape)
//   settext <hwnd> <id> <text>  types text into a control, as a user fills in a field
//   move <hwnd> <left> <top>    moves a top-level window, as a user drags it
//   exitcode <milliseconds>     -> "exited" and "code"
//   kill | quit                 kill ends the started process and those it started
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
HANDLE g_process = nullptr;
DWORD g_pid = 0;

std::wstring Wide(const std::string& text) {  // the harness writes UTF-8
    std::wstring wide(text.size(), L'\0');
    wide.resize(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                      static_cast<int>(wide.size())));
    return wide;
}

// The started process and every process it started, and they in turn.
std::vector<DWORD> Family() {
    std::vector<DWORD> family = {g_pid};
    std::vector<std::pair<DWORD, DWORD>> parents;  // process, its parent
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    ::CloseHandle(snapshot);
    for (size_t i = 0; i < family.size(); ++i) {
        for (const auto& [process, parent] : parents) {
            if (parent == family[i] && std::find(family.begin(), family.end(), process) == family.end())
                family.push_back(process);
        }
    }
    return family;
}

std::string JsonText(const std::wstring& wide) {
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                                      static_cast<int>(utf8.size()), nullptr, nullptr));
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char escape[8];
        std::snprintf(escape, sizeof(escape), c < 0x20 ? "\\u%04x" : (c == '"' || c == '\\') ? "\\%c" : "%c", c);
        out += escape;
    }
    return out + "\"";
}

// Another process's control texts come only through WM_GETTEXT.
std::wstring WindowText(HWND hWnd) {
    DWORD_PTR length = 0, copied = 0;
    if (!::SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return std::wstring();
    std::wstring text(length + 1, L'\0');
    ::SendMessageTimeoutW(hWnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 2000,
                          &copied);
    text.resize(copied);
    return text;
}

DWORD_PTR Ask(HWND hWnd, UINT message) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(hWnd, message, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return result;
}

std::string Flag(bool value) { return value ? "true" : "false"; }
std::string Number(UINT_PTR value) { return std::to_string(value); }

std::string DescribeControl(HWND control) {
    wchar_t cls[64] = L"";
    ::GetClassNameW(control, cls, 64);
    std::string json = "{\"id\":" + Number(::GetDlgCtrlID(control) & 0xFFFF) + ",\"class\":" + JsonText(cls) +
                       ",\"text\":" + JsonText(WindowText(control)) +
                       ",\"style\":" + Number(static_cast<DWORD>(::GetWindowLongA(control, GWL_STYLE))) +
                       ",\"enabled\":" + Flag(::IsWindowEnabled(control)) +
                       ",\"visible\":" + Flag(::IsWindowVisible(control));
    if (_wcsicmp(cls, L"Button") == 0)
        json += ",\"checked\":" + Number(Ask(control, BM_GETCHECK));
    if (_wcsicmp(cls, L"Static") == 0)
        json += ",\"has_icon\":" + Flag(Ask(control, STM_GETICON) != 0);
    return json + "}";
}

struct CListing {
    std::vector<DWORD> family;
    std::string json;
};

BOOL CALLBACK DescribeWindow(HWND hWnd, LPARAM lParam) {
    CListing& listing = *reinterpret_cast<CListing*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (std::find(listing.family.begin(), listing.family.end(), pid) == listing.family.end() ||
        !::IsWindowVisible(hWnd))
        return TRUE;
    std::string& json = listing.json;
    json += std::string(json.back() == '[' ? "" : ",") + "{\"hwnd\":" + Number(reinterpret_cast<UINT_PTR>(hWnd)) +
            ",\"pid\":" + Number(pid) + ",\"caption\":" + JsonText(WindowText(hWnd)) + ",\"enabled\":" + Flag(::IsWindowEnabled(hWnd));
    RECT rect = {};
    ::GetWindowRect(hWnd, &rect);
    json += ",\"rect\":[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
            std::to_string(rect.right) + "," + std::to_string(rect.bottom) + "],\"controls\":[";
    for (HWND child = ::GetWindow(hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        json += (json.back() == '[' ? "" : ",") + DescribeControl(child);
    json += "]}";
    return TRUE;
}

std::string Start(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Wine's loader now and then fails a start with an internal error; another try starts it.
    DWORD error = ERROR_INTERNAL_ERROR;
    for (int attempt = 0; attempt < 3 && error == ERROR_INTERNAL_ERROR; ++attempt) {
        std::wstring copy = commandLine;
        bool started = ::CreateProcessW(nullptr, &copy[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
        error = started ? ERROR_SUCCESS : ::GetLastError();
        ::Sleep(error == ERROR_INTERNAL_ERROR ? 250 : 0);
    }
    if (error != ERROR_SUCCESS)
        return "\"error\":\"CreateProcess failed: " + Number(error) + "\"";
    ::CloseHandle(info.hThread);
    g_process = info.hProcess;  // one program per helper
    g_pid = info.dwProcessId;
    return "\"pid\":" + Number(g_pid);
}

// The fields of one answer, or an "error" field.
std::string Perform(const std::string& verb, const std::string& rest) {
    char first[64] = "", second[64] = "";
    std::sscanf(rest.c_str(), "%63s %63s", first, second);
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(first, nullptr, 10)));
    if (verb == "setenv") {
        std::string value = rest.size() > std::strlen(first) ? rest.substr(std::strlen(first) + 1) : std::string();
        ::SetEnvironmentVariableW(Wide(first).c_str(), value.empty() ? nullptr : Wide(value).c_str());
    } else if (verb == "start") {
        return Start(Wide(rest));
    } else if (verb == "windows") {
        CListing listing = {Family(), "\"windows\":["};
        ::EnumWindows(DescribeWindow, reinterpret_cast<LPARAM>(&listing));
        return listing.json + "]";
    } else if (verb == "click" || verb == "command") {
        HWND target = verb == "click" ? ::GetDlgItem(window, std::atoi(second)) : window;
        bool posted = target && (verb == "click" ? ::PostMessageA(target, BM_CLICK, 0, 0)
                                                 : ::PostMessageA(target, WM_COMMAND, std::atoi(second), 0));
        if (!posted)
            return "\"error\":\"no such window or control\"";
    } else if (verb == "settext") {
        size_t at = rest.find(' ', std::strlen(first) + 1);
        std::wstring text = Wide(at == std::string::npos ? std::string() : rest.substr(at + 1));
        DWORD_PTR result = 0;
        HWND control = ::GetDlgItem(window, std::atoi(second));
        if (!control || !::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                               SMTO_ABORTIFHUNG, 2000, &result))
            return "\"error\":\"no such control\"";
    } else if (verb == "move") {
        int left = 0, top = 0;
        std::sscanf(rest.c_str(), "%*s %d %d", &left, &top);
        if (!::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
            return "\"error\":\"no such window\"";
    } else if (verb == "exitcode") {
        if (!g_process)
            return "\"error\":\"nothing started\"";
        DWORD code = 0;
        bool exited = ::WaitForSingleObject(g_process, static_cast<DWORD>(std::atoi(first))) == WAIT_OBJECT_0;
        ::GetExitCodeProcess(g_process, &code);
        return "\"exited\":" + Flag(exited) + ",\"code\":" + std::to_string(static_cast<long>(code));
    } else if (verb == "kill") {
        for (DWORD pid : g_process ? Family() : std::vector<DWORD>()) {
            HANDLE process = pid == g_pid ? g_process : ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            ::TerminateProcess(process, 255);
            if (process != g_process && process)
                ::CloseHandle(process);
        }
    } else if (verb != "quit") {
        return "\"error\":\"unknown command\"";
    }
    return std::string();
}
}  // namespace

int main() {
    char buffer[8192];
    while (std::fgets(buffer, sizeof(buffer), stdin)) {
        std::string line = buffer;
        line.erase(line.find_last_not_of("\r\n") + 1);
        std::string verb = line.substr(0, line.find(' '));
        std::string fields = Perform(verb, line.size() > verb.size() ? line.substr(verb.size() + 1) : std::string());
        bool ok = fields.rfind("\"error\"", 0) != 0;
        std::printf("{\"ok\":%s%s%s}\n", Flag(ok).c_str(), fields.empty() ? "" : ",", fields.c_str());
        std::fflush(stdout);
        if (verb == "quit")
            break;
    }
    return 0;
}

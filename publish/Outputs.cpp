#include "Outputs.h"

#include <windows.h>

#include "Format.h"
#include "Handle.h"
#include "Tree.h"

namespace {
// A file that another program holds without sharing its deletion cannot be renamed over, and
// neither could the second name that keeps it be removed again: such a file is left alone.
bool CanBeReplaced(const std::wstring& path) {
    CFileHandle probe(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(probe);
}
}  // namespace

CReleaseOutputs::~CReleaseOutputs() {
    for (size_t i = 0; !m_replaced && i < m_names.size(); ++i)
        ::DeleteFileW(TemporaryPath(m_names[i]).c_str());
}

bool CReleaseOutputs::Write(const std::wstring& name, const std::string& data, std::string& error) {
    m_names.push_back(name);
    if (Target(m_names.size() - 1).size() + 5 >= MAX_PATH) {
        error = "the path " + Utf8Of(Target(m_names.size() - 1)) + " is too long";
        return false;
    }
    if (WriteWholeFile(TemporaryPath(name), data))
        return true;
    error = StrFormat("cannot write %s (error %lu)", Utf8Of(TemporaryPath(name)).c_str(), ::GetLastError());
    return false;
}

bool CReleaseOutputs::Replace(std::string& error) {
    // Each file in place keeps what it replaced as a second name (a copy where the volume
    // has no links) until the last one is in place.
    std::vector<bool> saved;
    DWORD failure = 0;
    while (saved.size() < m_names.size()) {
        size_t i = saved.size();
        bool existed = Exists(Target(i));
        ::DeleteFileW(Saved(i).c_str());
        if (existed && (!CanBeReplaced(Target(i)) ||
                        (!::CreateHardLinkW(Saved(i).c_str(), Target(i).c_str(), nullptr) &&
                         !::CopyFileW(Target(i).c_str(), Saved(i).c_str(), FALSE)))) {
            failure = ::GetLastError();
            break;
        }
        if (!::MoveFileExW(TemporaryPath(m_names[i]).c_str(), Target(i).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            failure = ::GetLastError();
            ::DeleteFileW(Saved(i).c_str());
            break;
        }
        saved.push_back(existed);
    }
    m_replaced = saved.size() == m_names.size();
    for (size_t i = 0; m_replaced && i < m_names.size(); ++i)
        ::DeleteFileW(Saved(i).c_str());
    if (m_replaced)
        return true;
    std::string notPutBack;
    for (size_t i = saved.size(); i-- > 0;) {
        if (saved[i] ? !::MoveFileExW(Saved(i).c_str(), Target(i).c_str(), MOVEFILE_REPLACE_EXISTING)
                     : !::DeleteFileW(Target(i).c_str()))
            notPutBack += "; could not put back " + Utf8Of(Target(i)) +
                          (saved[i] ? ", whose earlier file is kept as " + Utf8Of(Saved(i)) : std::string());
    }
    error = StrFormat("cannot replace %s (error %lu)", Utf8Of(Target(saved.size())).c_str(), failure) +
            (notPutBack.empty() ? ": the folder is as it was" : notPutBack);
    return false;
}

bool RunSignCommand(const std::wstring& command, const std::wstring& path, std::string& error) {
    std::wstring line = command;
    for (size_t at = line.find(L"{}"); at != std::wstring::npos; at = line.find(L"{}", at + path.size()))
        line.replace(at, 2, path);
    wchar_t interpreter[MAX_PATH] = L"cmd.exe";
    DWORD length = ::GetEnvironmentVariableW(L"ComSpec", interpreter, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        wcscpy(interpreter, L"cmd.exe");
    // /s: the interpreter takes everything between the outer quotes as it stands.
    std::wstring commandLine = L"\"" + std::wstring(interpreter) + L"\" /d /s /c \"" + line + L"\"";
    // The command's output goes to this program's error output, so standard output keeps its one line.
    HANDLE output = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        error = StrFormat("the sign command could not be started (error %lu)", ::GetLastError());
        return false;
    }
    CKernelHandle process(started.hProcess), thread(started.hThread);
    DWORD exitCode = 1;
    if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.get(), &exitCode) || exitCode != 0) {
        error = StrFormat("the sign command failed (exit code %lu): %s", exitCode, Utf8Of(line).c_str());
        return false;
    }
    return true;
}

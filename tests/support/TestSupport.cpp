#include "TestSupport.h"

#include <io.h>

#include <cstdio>

#include "Handle.h"
#include "MessageBox.h"
#include "RixPath.h"

namespace {
CMessageBoxRecorder* g_recorder = nullptr;

int DefaultAnswer(UINT type) {
    bool second = (type & MB_DEFMASK) == MB_DEFBUTTON2;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return second ? IDCANCEL : IDOK;
    case MB_YESNO:
        return second ? IDNO : IDYES;
    case MB_RETRYCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}
}  // namespace

CMessageBoxRecorder::CMessageBoxRecorder() {
    g_recorder = this;
    SetMessageBoxHook(Hook);
}

CMessageBoxRecorder::~CMessageBoxRecorder() {
    SetMessageBoxHook(nullptr);
    g_recorder = nullptr;
}

std::vector<std::string> CMessageBoxRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const CShownBox& box : m_shown)
        texts.push_back(box.text);
    return texts;
}

int CMessageBoxRecorder::Hook(HWND owner, const char* text, const char* caption, UINT type) {
    if (!g_recorder)
        return IDCANCEL;
    g_recorder->m_shown.push_back({owner, text, caption, type});
    if (g_recorder->m_answers.empty())
        return DefaultAnswer(type);
    int answer = g_recorder->m_answers.front();
    g_recorder->m_answers.pop_front();
    return answer;
}

void RemoveTree(const std::string& path) {
    // A name may end in a double-byte character whose second byte is a backslash.
    std::string folder = RixTrailBackslash(path, FALSE);
    WIN32_FIND_DATAA data;
    {
        CFindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &data));
        if (find) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..")
                    continue;
                std::string full = folder + "\\" + name;
                ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(full);
                else
                    ::DeleteFileA(full.c_str());
            } while (::FindNextFileA(find.get(), &data));
        }
    }
    ::RemoveDirectoryA(folder.c_str());
}

std::string ScratchFolder(const std::string& name) {
    std::string folder = "D:\\unit\\" + name;
    RemoveTree(folder);
    ::CreateDirectoryA("D:\\unit", nullptr);
    ::CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    CStdioFile file(std::fopen(path.c_str(), "wb"));
    return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

std::string ReadBytes(const std::string& path) {
    CStdioFile file(std::fopen(path.c_str(), "rb"));
    std::string bytes;
    if (!file)
        return bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

std::string BuildFolder() {
    // ZYN_BUILD is a Linux path; Wine maps the Linux root to Z:.
    char linuxPath[MAX_PATH] = "";
    ::GetEnvironmentVariableA("ZYN_BUILD", linuxPath, MAX_PATH);
    std::string path = std::string("Z:") + linuxPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (path.back() != '\\')
        path += '\\';
    return path;
}

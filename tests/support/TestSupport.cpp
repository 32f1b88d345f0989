#include "TestSupport.h"

#include <gtest/gtest.h>
#include <io.h>

#include <fstream>
#include <sstream>

#include "RixPath.h"
#include "ZynUpdateApp.h"

std::vector<std::string> CMessageBoxRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const CShownBox& box : m_shown)
        texts.push_back(box.text);
    return texts;
}

int CMessageBoxRecorder::Hook(HWND, const char* text, const char* caption, UINT type) {
    s_recorder->m_shown.push_back({text, caption, type});
    bool second = (type & MB_DEFMASK) == MB_DEFBUTTON2;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return second ? IDCANCEL : IDOK;
    case MB_YESNO:
        return second ? IDNO : IDYES;
    case MB_RETRYCANCEL:
        return IDCANCEL;
    }
    return IDOK;
}

CMailslotReader::CMailslotReader() : m_slot(::CreateMailslotA("\\\\.\\mailslot\\rix_console", 0, 0, nullptr)) {}

std::vector<std::string> CMailslotReader::ReadAll() {
    std::vector<std::string> messages;
    DWORD next = MAILSLOT_NO_MESSAGE, got = 0;
    while (m_slot && ::GetMailslotInfo(m_slot.get(), nullptr, &next, nullptr, nullptr) && next != MAILSLOT_NO_MESSAGE) {
        std::string message(next, '\0');
        if (!::ReadFile(m_slot.get(), &message[0], next, &got, nullptr))
            break;
        messages.push_back(message.substr(0, got));
    }
    return messages;
}

std::string ScratchFolder(const std::string& name) {
    std::string folder = "D:\\unit\\" + name + "\\";
    RixDeleteFolder(folder);  // the product's own, which steps over double-byte names
    RixMakeFolder(folder);
    return folder;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    return static_cast<bool>(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush());
}

std::string ReadBytes(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

bool Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

std::string BuildFolder() {
    // ZYN_BUILD is a Linux path; Wine maps the Linux root to Z:.
    char linuxPath[MAX_PATH] = "";
    ::GetEnvironmentVariableA("ZYN_BUILD", linuxPath, MAX_PATH);
    std::string path = std::string("Z:") + linuxPath + "/";
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

int main(int argc, char** argv) {
    // Operations reach the application object as the real program does.
    CZynUpdateApp app;
    app.CWinApp::InitInstance();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#pragma once
// Shared by the unit tests, each of which gets an application object as the real
// program has: a recorder that answers message boxes, the diagnostic mailslot read as
// its console reader would, scratch folders on drive D:, and small file helpers.
#include <windows.h>

#include <string>
#include <vector>

#include "Handle.h"
#include "MessageBox.h"

struct CShownBox {
    std::string text, caption;
    UINT type;
};

// The message box hook for its lifetime: records each box and answers with its default
// button (Retry/Cancel gets Cancel).
class CMessageBoxRecorder {
public:
    CMessageBoxRecorder() {
        s_recorder = this;
        SetMessageBoxHook(Hook);
    }
    ~CMessageBoxRecorder() { SetMessageBoxHook(nullptr); }
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const std::vector<CShownBox>& Shown() const { return m_shown; }
    std::vector<std::string> Texts() const;
    void Clear() { m_shown.clear(); }

private:
    static int Hook(HWND owner, const char* text, const char* caption, UINT type);
    static inline CMessageBoxRecorder* s_recorder = nullptr;  // the one whose hook is set
    std::vector<CShownBox> m_shown;
};

// Owns the mailslot "\\.\mailslot\rix_console" for its lifetime.
class CMailslotReader {
public:
    CMailslotReader();
    // Every message waiting now, oldest first, each with all its bytes.
    std::vector<std::string> ReadAll();

private:
    CFileHandle m_slot;
};

// A fresh, empty folder D:\unit\<name>\, returned with its trailing backslash.
std::string ScratchFolder(const std::string& name);
bool WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// The build folder as a Windows path (from ZYN_BUILD), with a trailing backslash.
std::string BuildFolder();

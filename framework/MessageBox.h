#pragma once
#include <windows.h>
#include <string>

// Every message box of the program goes through this one function, with code page 932
// texts. The shipped program shows real boxes through the wide call; tests install a
// hook that records and answers.
using MessageBoxHook = int (*)(HWND owner, const char* text, const char* caption, UINT type);

// Returns the previous hook; null restores the real message box.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

// The application's message box: caption is the application name, owner the main window.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);

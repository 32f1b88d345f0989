#pragma once
// The program's texts are code page 932 bytes whatever the system's code page is. Windows
// get them as UTF-16, converted here with 932 named explicitly (never CP_ACP), so that a
// system with another code page, or with the UTF-8 option on, shows them as written.
#include <windows.h>

#include <string>

const UINT kTextCodePage = 932;

std::wstring WideFromText(const std::string& text);
// Characters that code page 932 cannot spell come back as '?'.
std::string TextFromWide(const wchar_t* wide, size_t length);
// UTF-8 of a wide text, as logs and the publisher's messages are written.
std::string Utf8Of(const std::wstring& text);

// A string resource of the program, as code page 932 text; empty when there is none.
std::string LoadResourceText(UINT nID);

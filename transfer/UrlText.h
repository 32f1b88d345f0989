#pragma once
// Small server files (Ver files) are read whole, at most kUrlTextLimit bytes of them, and
// handed over byte for byte, zero bytes and all.
#include <windows.h>

const DWORD kUrlTextLimit = 131070;

// Why ReadUrlFile read nothing.
enum UrlFailure {
    kUrlNotRead,    // not there, unreachable, too slow: the callers say what it means for them
    kUrlToldWhy,    // the proxy or the server's certificate failed, and a message has said so
    kUrlAbandoned,  // the user left the dialog meanwhile: nothing more is said
};

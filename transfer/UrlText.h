#pragma once
// Small server files (Ver files) are read whole into a caller's buffer of this
// size; at most kUrlTextLimit bytes are read, so the text stays zero-terminated.
#include <windows.h>

const DWORD kUrlTextBufferBytes = 131072;
const DWORD kUrlTextLimit = kUrlTextBufferBytes - 2;

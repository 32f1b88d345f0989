#pragma once
#include <windows.h>

#include <string>

// Splits url and replaces each component that is not null (the empty text removes
// it), then rebuilds "scheme://host" + path + extra. FALSE leaves url unchanged.
BOOL RixSetUrlParts(std::string& url, const char* scheme, const char* host, const char* user, const char* password,
                    const char* path, const char* extra);

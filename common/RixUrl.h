#pragma once
#include <windows.h>
#include <wininet.h>

#include <string>

// Splits url and replaces each component that is not null (the empty text removes
// it), then rebuilds "scheme://host" + path + extra. FALSE leaves url unchanged.
BOOL RixSetUrlParts(std::string& url, const char* scheme, const char* host, const char* user, const char* password,
                    const char* path, const char* extra);

// Where a connection for url goes: the port written in it, else the scheme's own
// (443 for https, 80 otherwise), and whether the scheme asks for TLS. A URL that
// cannot be split, or that writes a port outside 1..65535, gives FALSE, port 80 and no TLS.
BOOL RixGetUrlServer(const std::string& url, INTERNET_PORT& port, BOOL& bSecure);

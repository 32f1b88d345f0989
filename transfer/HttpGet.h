#pragma once
// One GET that cannot wait for ever: timeouts on the connection, and redirects
// followed by hand, a few at most, so that a loop ends.
#include <string>

#include "Handle.h"

const int kMaxRedirects = 5;

// The step at which a GET failed; each caller words each step its own way.
enum HttpGetResult { kHttpGetDone, kHttpGetConnectFailed, kHttpGetRequestFailed, kHttpGetSendFailed };

// The handles of the last answer; the request is declared last, so it is closed first.
struct CHttpGet {
    CInternetHandle connection;
    CInternetHandle request;
};

// The path of url from its first "/", as the request names it.
std::string UrlObject(const std::string& url);

// Sends GET url on internet with the given request flags and extra header lines (each
// ending in CR LF), sent again after each redirect. After kMaxRedirects redirects the
// answer counts whatever its status. A port outside 1..65535 fails to connect.
HttpGetResult HttpGet(HINTERNET internet, std::string url, DWORD flags, DWORD timeoutSeconds, CHttpGet& get,
                      const std::string& headers = "");

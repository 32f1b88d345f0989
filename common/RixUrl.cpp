#include "RixUrl.h"

#include <cstdlib>

namespace {
const DWORD kComponentBytes = 1000;

struct CUrlParts {
    char scheme[kComponentBytes] = "";
    char host[kComponentBytes] = "";
    char user[kComponentBytes] = "";
    char password[kComponentBytes] = "";
    char path[kComponentBytes] = "";
    char extra[kComponentBytes] = "";
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT nPort = 0;
};

bool CrackUrl(const std::string& url, CUrlParts& parts) {
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof(components);
    components.lpszScheme = parts.scheme;
    components.dwSchemeLength = kComponentBytes;
    components.lpszHostName = parts.host;
    components.dwHostNameLength = kComponentBytes;
    components.lpszUserName = parts.user;
    components.dwUserNameLength = kComponentBytes;
    components.lpszPassword = parts.password;
    components.dwPasswordLength = kComponentBytes;
    components.lpszUrlPath = parts.path;
    components.dwUrlPathLength = kComponentBytes;
    components.lpszExtraInfo = parts.extra;
    components.dwExtraInfoLength = kComponentBytes;
    if (!::InternetCrackUrlA(url.c_str(), 0, 0, &components))
        return false;
    parts.nScheme = components.nScheme;
    parts.nPort = components.nPort;
    return true;
}
// The URL parser wraps a written port outside 1..65535 into another, valid one.
bool PortInRange(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    authority.erase(0, authority.rfind('@') + 1);
    size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.find(']', colon) != std::string::npos)
        return true;  // no port, or the colons of an IPv6 address
    std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return port.empty();
    long value = std::strtol(port.c_str(), nullptr, 10);
    return value >= 1 && value <= 65535;
}
}  // namespace

// User name and password are never written back, whatever is given for them.
BOOL RixSetUrlParts(std::string& url, const char* scheme, const char* host, const char* /*user*/,
                    const char* /*password*/, const char* path, const char* extra) {
    CUrlParts parts;
    if (!CrackUrl(url, parts))
        return FALSE;
    std::string newScheme = scheme ? scheme : parts.scheme;
    std::string newHost = host ? host : parts.host;
    std::string newPath = path ? path : parts.path;
    std::string newExtra = extra ? extra : parts.extra;

    std::string rebuilt;
    if (!newScheme.empty())
        rebuilt += newScheme + "://";
    rebuilt += newHost;
    if (!newPath.empty()) {
        if (newPath[0] != '/')
            rebuilt += '/';
        rebuilt += newPath;
    }
    rebuilt += newExtra;
    url = rebuilt;
    return TRUE;
}

BOOL RixGetUrlServer(const std::string& url, INTERNET_PORT& port, BOOL& bSecure) {
    port = INTERNET_DEFAULT_HTTP_PORT;
    bSecure = FALSE;
    CUrlParts parts;
    if (!PortInRange(url) || !CrackUrl(url, parts))
        return FALSE;
    bSecure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (parts.nPort != 0)
        port = parts.nPort;
    else if (bSecure)
        port = INTERNET_DEFAULT_HTTPS_PORT;
    return TRUE;
}

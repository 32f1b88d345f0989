#include "HttpGet.h"

#include "RixUrl.h"

namespace {
// When request answered with a redirect, url becomes the absolute URL it points to.
bool FollowRedirect(HINTERNET request, std::string& url) {
    DWORD status = 0;
    DWORD statusBytes = sizeof(status);
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusBytes, nullptr) ||
        (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
        return false;
    char location[INTERNET_MAX_URL_LENGTH] = "";
    DWORD locationBytes = sizeof(location);
    if (!::HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &locationBytes, nullptr))
        return false;
    char combined[INTERNET_MAX_URL_LENGTH] = "";
    DWORD combinedBytes = sizeof(combined);
    if (!::InternetCombineUrlA(url.c_str(), location, combined, &combinedBytes, ICU_NO_ENCODE))
        return false;
    url = combined;
    return true;
}
}  // namespace

std::string UrlObject(const std::string& url) {
    std::string object = url;
    RixSetUrlParts(object, "", "", "", "", nullptr, "");
    size_t slash = object.find('/');
    if (slash != std::string::npos)
        object.erase(0, slash);
    return object;
}

HttpGetResult HttpGet(HINTERNET internet, std::string url, DWORD flags, DWORD timeoutSeconds, CHttpGet& get,
                      const std::string& headers) {
    // WinINet's own redirects have no limit under Wine: a loop would never end.
    flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    for (int redirects = 0;; ++redirects) {
        get.request.reset();
        get.connection.reset();
        // The connection goes to the URL's own port, with TLS for https.
        std::string host = url;
        RixSetUrlParts(host, "", nullptr, "", "", "", "");
        INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
        BOOL bSecure = FALSE;
        if (!RixGetUrlServer(url, port, bSecure))
            return kHttpGetConnectFailed;
        get.connection.reset(
            ::InternetConnectA(internet, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        if (!get.connection)
            return kHttpGetConnectFailed;
        // Wine honours the timeouts of a connection handle, not those of the root handle.
        DWORD milliseconds = timeoutSeconds * 1000;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
            ::InternetSetOptionA(get.connection.get(), option, &milliseconds, sizeof(milliseconds));
        get.request.reset(::HttpOpenRequestA(get.connection.get(), "GET", UrlObject(url).c_str(), nullptr, nullptr,
                                             nullptr, flags | (bSecure ? INTERNET_FLAG_SECURE : 0), 0));
        if (!get.request)
            return kHttpGetRequestFailed;
        if (!::HttpSendRequestA(get.request.get(), headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0))
            return kHttpGetSendFailed;
        if (redirects == kMaxRedirects || !FollowRedirect(get.request.get(), url))
            return kHttpGetDone;
    }
}

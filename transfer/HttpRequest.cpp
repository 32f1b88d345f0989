#include "HttpRequest.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "Format.h"
#include "RixUrl.h"

// What the caller and the thread share. The caller writes the inputs and reads the outputs only
// while the thread waits for its next step.
struct CHttpJob {
    std::shared_ptr<CInternetHandle> internet;  // shared by every request of the run
    CInternetHandle connection;
    CInternetHandle request;  // declared last: closed first
    CKernelHandle go{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    CKernelHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<bool> released{false};
    void (*step)(CHttpJob&) = nullptr;
    std::string url;  // the next hop's, and after a redirect the new one's
    std::string headers;
    DWORD flags = 0;
    DWORD timeoutMs = 0;
    bool bResend = false;  // the request is sent again as it is, now with credentials
    size_t limit = 0;
    HttpResult result = kHttpAnswered;
    DWORD error = 0;          // of a failed send
    DWORD securityFlags = 0;  // of a failed send: what was wrong with the certificate
    std::string body;
};

namespace {
const DWORD kWaitSliceMs = 33;  // how long the caller's windows may go unanswered

std::string UrlHost(const std::string& url) {
    std::string host = url;
    RixSetUrlParts(host, "", nullptr, "", "", "", "");
    return host;
}

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

bool OpenHop(CHttpJob& job) {
    job.request.reset();
    job.connection.reset();
    // The connection goes to the URL's own port, with TLS for https.
    const std::string host = UrlHost(job.url);
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    BOOL bSecure = FALSE;
    job.result = kHttpConnectFailed;
    if (!RixGetUrlServer(job.url, port, bSecure))
        return false;
    job.connection.reset(
        ::InternetConnectA(job.internet->get(), host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!job.connection)
        return false;
    // Wine honours the timeouts of a connection handle, not those of the root handle.
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(job.connection.get(), option, &job.timeoutMs, sizeof(job.timeoutMs));
    job.result = kHttpRequestFailed;
    // Never INTERNET_FLAG_IGNORE_CERT_*: a certificate that fails is a failure.
    job.request.reset(::HttpOpenRequestA(job.connection.get(), "GET", UrlObject(job.url).c_str(), nullptr, nullptr,
                                         nullptr, job.flags | (bSecure ? INTERNET_FLAG_SECURE : 0), 0));
    return static_cast<bool>(job.request);
}

void SendStep(CHttpJob& job) {
    for (int redirects = 0;; ++redirects) {
        if (job.bResend) {
            // What the proxy said with its refusal is read first, as before any new request.
            char sink[4096];
            DWORD got = 0;
            while (::InternetReadFile(job.request.get(), sink, sizeof(sink), &got) && got > 0) {
            }
        } else if (!OpenHop(job)) {
            return;
        }
        job.bResend = false;
        if (!::HttpSendRequestA(job.request.get(), job.headers.empty() ? nullptr : job.headers.c_str(),
                                static_cast<DWORD>(job.headers.size()), nullptr, 0)) {
            job.error = ::GetLastError();
            DWORD size = sizeof(job.securityFlags);
            if (!::InternetQueryOptionA(job.request.get(), INTERNET_OPTION_SECURITY_FLAGS, &job.securityFlags, &size))
                job.securityFlags = 0;
            job.result = kHttpSendFailed;
            return;
        }
        job.result = kHttpAnswered;
        if (redirects == kMaxRedirects || !FollowRedirect(job.request.get(), job.url))
            return;
    }
}

void ReadStep(CHttpJob& job) {
    // What has arrived is read piece by piece, so that a read never waits for more than is there.
    job.body.clear();
    job.result = kHttpAnswered;
    while (job.body.size() < job.limit) {
        DWORD available = 0;
        DWORD got = 0;
        const size_t at = job.body.size();
        if (!::InternetQueryDataAvailable(job.request.get(), &available, 0, 0)) {
            job.result = kHttpSendFailed;
            return;
        }
        job.body.resize(at + std::min<size_t>(std::max<DWORD>(available, 1), job.limit - at));
        if (!::InternetReadFile(job.request.get(), &job.body[at], static_cast<DWORD>(job.body.size() - at), &got)) {
            job.body.resize(at);
            job.result = kHttpSendFailed;
            return;
        }
        job.body.resize(at + got);
        if (got == 0)
            return;
    }
}

// The thread holds its own reference: a job that its caller left ends when its step returns,
// and the handles are closed here, never on the caller's thread.
DWORD WINAPI Work(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<CHttpJob>> owner(static_cast<std::shared_ptr<CHttpJob>*>(parameter));
    CHttpJob& job = **owner;
    while (::WaitForSingleObject(job.go.get(), INFINITE) == WAIT_OBJECT_0 && !job.released) {
        job.step(job);
        ::SetEvent(job.done.get());
    }
    job.request.reset();
    job.connection.reset();
    job.internet.reset();
    return 0;
}

bool IsCertificateError(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return true;
    default:
        return false;
    }
}

// Each fault of the certificate on a line of its own: the administrator of a gateway that
// inspects TLS learns which one to mend.
std::string CertificateCause(DWORD error, DWORD flags, const std::string& url) {
    const std::string host = UrlHost(url);
    if (error != ERROR_INTERNET_SEC_CERT_ERRORS)  // one fault, named by the error itself
        flags = error == ERROR_INTERNET_INVALID_CA              ? SECURITY_FLAG_IGNORE_UNKNOWN_CA
                : error == ERROR_INTERNET_SEC_CERT_DATE_INVALID ? SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
                : error == ERROR_INTERNET_SEC_CERT_CN_INVALID   ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID
                : error == ERROR_INTERNET_SEC_CERT_REV_FAILED   ? SECURITY_FLAG_IGNORE_REVOCATION
                                                                : 0;
    else  // several: the request's security flags say which
        flags = (flags & 0x01000000 ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0) |
                (flags & 0x02000000 ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID : 0) |
                (flags & 0x04000000 ? SECURITY_FLAG_IGNORE_CERT_DATE_INVALID : 0) |
                (flags & 0x00800000 ? SECURITY_FLAG_IGNORE_REVOCATION : 0);
    std::string cause;
    if (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA)
        cause += "\nｻｰﾊﾞ証明書の発行元が信頼されていません";
    if (flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID)
        cause += "\nｻｰﾊﾞ証明書の有効期限が切れています";
    if (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID)
        cause += StrFormat("\nｻｰﾊﾞ証明書の名前がｻｰﾊﾞ名[%s]と一致しません", host.c_str());
    if (flags & SECURITY_FLAG_IGNORE_REVOCATION)
        cause += "\nｻｰﾊﾞ証明書の発行元または失効を確認できませんでした";  // also what an unknown issuer gives
    if (error == ERROR_INTERNET_SEC_CERT_REVOKED)
        cause += "\nｻｰﾊﾞ証明書は失効しています";
    return cause.empty() ? "ｻｰﾊﾞ証明書が正しくありません" : cause.substr(1);
}

// The non-empty entries of a list that separators divide.
std::vector<std::string> ListEntries(const std::string& list, const char* separators) {
    std::vector<std::string> entries;
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find_first_of(separators, start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            entries.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

// Whether host is in the proxy bypass list: "<local>" for names without a dot, else patterns with * and ?.
bool Bypassed(const std::string& host, const std::string& list) {
    for (const std::string& entry : ListEntries(list, "; \t")) {
        if (_stricmp(entry.c_str(), "<local>") == 0 ? host.find('.') == std::string::npos
                                                    : ::PathMatchSpecA(host.c_str(), entry.c_str()))
            return true;
    }
    return false;
}

// The proxy that the settings of internet (the system's) send url through ("host:port"); empty: none.
std::string SystemProxyFor(HINTERNET internet, const std::string& url) {
    std::vector<char> buffer(8192);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!::InternetQueryOptionA(internet, INTERNET_OPTION_PROXY, buffer.data(), &size))
        return "";
    const INTERNET_PROXY_INFO& info = *reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (info.dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info.lpszProxy)
        return "";
    const std::string scheme = url.substr(0, url.find(':'));
    if (info.lpszProxyBypass && Bypassed(UrlHost(url), info.lpszProxyBypass))
        return "";
    // "host:port" for every scheme, or "http=host:port;https=host:port": the entry for this scheme.
    std::string every;
    for (const std::string& entry : ListEntries(info.lpszProxy, "; ")) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos && every.empty())
            every = entry;
        else if (equals != std::string::npos && _stricmp(entry.substr(0, equals).c_str(), scheme.c_str()) == 0)
            return entry.substr(equals + 1);
    }
    return every;
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

CHttpRequest::CHttpRequest(std::shared_ptr<CInternetHandle> internet, DWORD timeoutSeconds)
    : m_job(std::make_shared<CHttpJob>()) {
    m_job->internet = std::move(internet);
    m_job->timeoutMs = timeoutSeconds * 1000;
    auto reference = std::make_unique<std::shared_ptr<CHttpJob>>(m_job);
    // Without a thread (or its events) each step runs on the caller's thread, as it always could.
    if (m_job->go && m_job->done)
        m_thread.reset(::CreateThread(nullptr, 0, Work, reference.get(), 0, nullptr));
    if (m_thread)
        reference.release();
}

CHttpRequest::~CHttpRequest() {
    if (!m_thread)
        return;
    m_job->released = true;
    ::SetEvent(m_job->go.get());
}

HttpResult CHttpRequest::Run(void (*step)(CHttpJob&), ULONGLONG deadline, CServerWait& wait) {
    if (m_bBehind)
        return kHttpAbandoned;
    m_job->step = step;
    if (!m_thread) {
        step(*m_job);
        return m_job->result;
    }
    ::SetEvent(m_job->go.get());
    for (;;) {
        ULONGLONG now = ::GetTickCount64();
        DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kWaitSliceMs));
        if (::WaitForSingleObject(m_job->done.get(), slice) == WAIT_OBJECT_0)
            return m_job->result;
        const bool bLate = ::GetTickCount64() >= deadline;
        if (bLate || !wait.KeepWaiting()) {
            m_bBehind = true;  // the step finishes on its own; nothing more is asked of this thread
            return bLate ? kHttpTimedOut : kHttpAbandoned;
        }
    }
}

HttpResult CHttpRequest::Send(const std::string& url, DWORD flags, const std::string& headers, CServerWait& wait) {
    // WinINet's own redirects have no limit under Wine: a loop would never end.
    m_job->url = url;
    m_job->flags = flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
    m_job->headers = headers;
    m_job->bResend = false;
    bool bResent = false;  // with the credentials asked for
    m_strProxy = SystemProxyFor(m_job->internet->get(), url);
    for (;;) {
        m_nDeadline = ::GetTickCount64() + m_job->timeoutMs;
        m_nLast = Run(SendStep, m_nDeadline, wait);
        if (m_nLast == kHttpSendFailed && IsCertificateError(m_job->error))
            m_nLast = kHttpCertificateRefused;
        else if (m_nLast == kHttpSendFailed && !m_strProxy.empty() &&
                 (m_job->error == ERROR_INTERNET_CANNOT_CONNECT || m_job->error == ERROR_INTERNET_NAME_NOT_RESOLVED))
            m_nLast = kHttpProxyUnreachable;
        // Only the system's proxy is asked about: a server's own 407 is an answer like any other.
        const std::string status = m_nLast == kHttpAnswered && !m_strProxy.empty() ? Header(HTTP_QUERY_STATUS_CODE) : "";
        // Some proxies refuse credentials with 401 rather than asking again with 407.
        if (status == "401" && bResent)
            return m_nLast = kHttpProxyRefused;
        if (status != "407")
            return m_nLast;
        HWND owner = wait.CredentialsOwner();
        if (!owner)
            return m_nLast = kHttpProxyDenied;
        DWORD answer = ::InternetErrorDlg(owner, m_job->request.get(), ERROR_SUCCESS,
                                          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                              FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                          nullptr);
        if (answer != ERROR_INTERNET_FORCE_RETRY)
            return m_nLast = kHttpProxyCancelled;
        m_job->bResend = bResent = true;
    }
}

HttpResult CHttpRequest::ReadBody(std::string& body, size_t limit, CServerWait& wait) {
    m_job->limit = limit;
    m_nLast = Run(ReadStep, m_nDeadline, wait);
    body = m_nLast == kHttpAnswered ? std::move(m_job->body) : std::string();
    return m_nLast;
}

std::string CHttpRequest::Header(DWORD query) const {
    if (m_bBehind || !m_job->request)
        return "";
    char text[1024] = "";
    DWORD bytes = sizeof(text);
    return ::HttpQueryInfoA(m_job->request.get(), query, text, &bytes, nullptr) ? std::string(text, bytes) : "";
}

std::string CHttpRequest::Cause() const {
    switch (m_nLast) {
    case kHttpProxyUnreachable:
        return StrFormat("ﾌﾟﾛｷｼ[%s]に接続できませんでした", m_strProxy.c_str());
    case kHttpProxyDenied:
        return StrFormat("ﾌﾟﾛｷｼ[%s]の認証が必要です", m_strProxy.c_str());
    case kHttpProxyRefused:
        return StrFormat("ﾌﾟﾛｷｼ[%s]の認証に失敗しました", m_strProxy.c_str());
    case kHttpProxyCancelled:
        return StrFormat("ﾌﾟﾛｷｼ[%s]の認証が取り消されました", m_strProxy.c_str());
    case kHttpCertificateRefused:
        return CertificateCause(m_job->error, m_job->securityFlags, m_job->url);
    default:
        return "";
    }
}

void CHttpRequest::HandOver(std::shared_ptr<CInternetHandle>& internet, CInternetHandle& connection,
                            CInternetHandle& request) {
    if (m_bBehind)
        return;
    internet = m_job->internet;
    connection.reset(m_job->connection.release());
    request.reset(m_job->request.release());
}

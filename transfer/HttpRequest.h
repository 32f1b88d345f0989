#pragma once
// One GET whose network steps run on a thread of its own, so that none can hold the caller:
// it waits for each step with a deadline, keeps its windows answering, and may leave at any
// moment. That thread also closes the handles, as Wine's close of a request first reads the
// rest of its body, however long that is.
#include <memory>
#include <string>

#include "Handle.h"
#include "Person.h"

const int kMaxRedirects = 5;

enum HttpResult {
    kHttpAnswered,            // an answer came, of whatever status
    kHttpConnectFailed,       // no connection for the URL (a port outside 1..65535)
    kHttpRequestFailed,       // no request handle
    kHttpSendFailed,          // the server could not be reached, or broke off
    kHttpTimedOut,            // no whole answer before the deadline
    kHttpAbandoned,           // the caller stopped waiting (Cancel, 終了)
    // Failures of the machine's set-up, which Cause() names:
    kHttpProxyUnreachable,    // the system's proxy could not be reached
    kHttpProxyDenied,         // the proxy wants credentials, and nobody may be asked
    kHttpProxyCancelled,      // the user cancelled the proxy's credentials dialog
    kHttpProxyRefused,        // the proxy refused the credentials given (with 401)
    kHttpCertificateRefused,  // the server's certificate is not trusted, expired or for another name
};

// The path of url from its first "/", as the request names it.
std::string UrlObject(const std::string& url);

struct CHttpJob;

class CHttpRequest {
public:
    CHttpRequest(std::shared_ptr<CInternetHandle> internet, DWORD timeoutSeconds);
    ~CHttpRequest();  // never waits: the thread closes the handles once its step is over
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    // Sends GET url with the request flags and extra header lines (each ending in CR LF), again
    // after each redirect (kMaxRedirects at most: then the answer counts whatever its status),
    // within the timeout for connecting and the answer's headers. A proxy that asks for
    // credentials gets them through InternetErrorDlg when wait names an owner, and the request
    // is sent again, with a new deadline, as often as the user answers.
    HttpResult Send(const std::string& url, DWORD flags, const std::string& headers, CServerWait& wait);
    // Reads the body, at most limit bytes of it, before the deadline of the last Send.
    HttpResult ReadBody(std::string& body, size_t limit, CServerWait& wait);
    // A header of the answer; empty when it has none.
    std::string Header(DWORD query) const;
    // Names the proxy or certificate failure of the last step, in the program's words.
    std::string Cause() const;
    // Gives the handles to whoever reads the body from here on.
    void HandOver(std::shared_ptr<CInternetHandle>& internet, CInternetHandle& connection, CInternetHandle& request);

private:
    // Runs step on the thread and waits for it until deadline, or until wait gives up.
    HttpResult Run(void (*step)(CHttpJob&), ULONGLONG deadline, CServerWait& wait);

    std::shared_ptr<CHttpJob> m_job;
    CKernelHandle m_thread;
    ULONGLONG m_nDeadline = 0;
    HttpResult m_nLast = kHttpAnswered;
    std::string m_strProxy;
    bool m_bBehind = false;  // a step is still running: nothing more may be asked of the thread
};

#include <cstdlib>

#include "Format.h"
#include "HttpRequest.h"
#include "Server.h"

std::shared_ptr<CInternetHandle> CServer::Internet() {
    std::shared_ptr<CInternetHandle>& internet = m_access.m_pInternet;
    if (!internet || !*internet) {
        internet = std::make_shared<CInternetHandle>(
            ::InternetOpenA(m_access.m_strAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    }
    return *internet ? internet : nullptr;
}

const char kReadUrlCaption[] = "CZynUpdateDlg::ReadUrlFile";

std::string UrlNotOpened(const std::string& url) { return StrFormat("指定URL[%s]を開けませんでした", url.c_str()); }

BOOL CServer::ReadUrlFile(const std::string& url, std::string& text, DWORD limit, BOOL bQuiet, UrlFailure* pWhy) {
    const char* const caption = kReadUrlCaption;
    // The server's failures, said unless bQuiet; an unattended run knows their cause either way.
    auto fail = [this, bQuiet, caption](const std::string& message) {
        if (bQuiet)
            m_person.Fail(CCause::kServer);
        else
            m_person.Show(message, caption, MB_OK, CQuestion::kNone, CCause::kServer);
        return FALSE;
    };
    UrlFailure ignored = kUrlNotRead;
    UrlFailure& why = pWhy ? *pWhy : ignored;
    why = kUrlNotRead;
    text.clear();
    std::shared_ptr<CInternetHandle> internet = Internet();
    if (!internet) {
        m_person.Show("InternetOpenに失敗しました", caption, MB_OK, CQuestion::kNone, CCause::kOther);
        return FALSE;
    }
    std::unique_ptr<CServerWait> wait = m_person.StartWait(m_access.m_bAskCredentials);
    CHttpRequest request(internet, m_access.m_nTimeout);
    const HttpResult sent = request.Send(url, INTERNET_FLAG_RELOAD, "", *wait);
    const std::string opened = UrlNotOpened(url);
    // The proxy and the certificates are the machine's: what fails there is said even to an
    // unattended run, once, and no "no update" follows it.
    if (!request.Cause().empty()) {
        m_person.Show(opened + "\n" + request.Cause(), caption, MB_OK, CQuestion::kNone, CCause::kServer);
        why = kUrlToldWhy;
        return FALSE;
    }
    if (sent == kHttpAbandoned) {
        why = kUrlAbandoned;
        return FALSE;
    }
    if (sent != kHttpAnswered)
        return fail(opened);
    std::string status = request.Header(HTTP_QUERY_STATUS_CODE);
    if (status.empty())
        return fail("ｽﾃｰﾀｽを取得できませんでした");
    // Any answer but 200 means the file is not there; the callers word that. A server that failed
    // is no answer that nothing is there.
    const int code = std::atoi(status.c_str());
    if (code >= 500)
        m_person.Fail(CCause::kServer);
    if (code != 200)
        return FALSE;
    // Within the same deadline as the headers: a body that trickles in ends there too.
    const HttpResult read = request.ReadBody(text, limit, *wait);
    if (read == kHttpAbandoned) {
        why = kUrlAbandoned;
        return FALSE;
    }
    if (read != kHttpAnswered)
        return fail("ファイルを読み込み出来ませんでした");
    return TRUE;
}

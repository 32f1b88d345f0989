#include <cstdlib>

#include "Format.h"
#include "HttpRequest.h"
#include "ZynUpdateDlg.h"

std::shared_ptr<CInternetHandle> CZynUpdateDlg::Internet() {
    if (!m_pInternet || !*m_pInternet) {
        m_pInternet = std::make_shared<CInternetHandle>(
            ::InternetOpenA(m_strAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    }
    return *m_pInternet ? m_pInternet : nullptr;
}

BOOL CZynUpdateDlg::ReadUrlFile(const std::string& url, std::string& text, DWORD limit, BOOL bQuiet, UrlFailure* pWhy) {
    const char caption[] = "CZynUpdateDlg::ReadUrlFile";
    UrlFailure ignored = kUrlNotRead;
    UrlFailure& why = pWhy ? *pWhy : ignored;
    why = kUrlNotRead;
    text.clear();
    std::shared_ptr<CInternetHandle> internet = Internet();
    if (!internet) {
        MessageBox("InternetOpenに失敗しました", caption, MB_OK);
        return FALSE;
    }
    std::unique_ptr<CServerWait> wait = MakeServerWait();
    CHttpRequest request(internet, m_nTimeout);
    const HttpResult sent = request.Send(url, INTERNET_FLAG_RELOAD, "", *wait);
    const std::string opened = StrFormat("指定URL[%s]を開けませんでした", url.c_str());
    // The proxy and the certificates are the machine's: what fails there is said even to an
    // unattended run, once, and no "no update" follows it.
    if (!request.Cause().empty()) {
        MessageBox(opened + "\n" + request.Cause(), caption, MB_OK);
        why = kUrlToldWhy;
        return FALSE;
    }
    if (sent == kHttpAbandoned) {
        why = kUrlAbandoned;
        return FALSE;
    }
    if (sent != kHttpAnswered) {
        if (!bQuiet)
            MessageBox(opened, caption, MB_OK);
        return FALSE;
    }
    std::string status = request.Header(HTTP_QUERY_STATUS_CODE);
    if (status.empty()) {
        if (!bQuiet)
            MessageBox("ｽﾃｰﾀｽを取得できませんでした", caption, MB_OK);
        return FALSE;
    }
    // Any answer but 200 means the file is not there; the callers word that.
    if (std::atoi(status.c_str()) != 200)
        return FALSE;
    // Within the same deadline as the headers: a body that trickles in ends there too.
    const HttpResult read = request.ReadBody(text, limit, *wait);
    if (read == kHttpAbandoned) {
        why = kUrlAbandoned;
        return FALSE;
    }
    if (read != kHttpAnswered) {
        if (!bQuiet)
            MessageBox("ファイルを読み込み出来ませんでした", caption, MB_OK);
        return FALSE;
    }
    return TRUE;
}

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Format.h"
#include "Handle.h"
#include "HttpGet.h"
#include "ZynUpdateDlg.h"

// buffer holds at least size + 1 bytes: the text read is always zero-terminated.
BOOL CZynUpdateDlg::ReadUrlFile(const std::string& url, char* buffer, DWORD size, BOOL bQuiet) {
    const char caption[] = "CZynUpdateDlg::ReadUrlFile";
    CInternetHandle internet(::InternetOpenA(m_strAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) {
        MessageBox("InternetOpenに失敗しました", caption, MB_OK);
        return FALSE;
    }
    CHttpGet get;
    if (HttpGet(internet.get(), url, INTERNET_FLAG_RELOAD, m_nTimeout, get) != kHttpGetDone) {
        if (!bQuiet)
            MessageBox(StrFormat("指定URL[%s]を開けませんでした", url.c_str()), caption, MB_OK);
        return FALSE;
    }
    char status[1024] = "";
    DWORD statusBytes = sizeof(status);
    if (!::HttpQueryInfoA(get.request.get(), HTTP_QUERY_STATUS_CODE, status, &statusBytes, nullptr)) {
        if (!bQuiet)
            MessageBox("ｽﾃｰﾀｽを取得できませんでした", caption, MB_OK);
        return FALSE;
    }
    // Any answer but 200 means the file is not there; the callers word that.
    if (std::atoi(status) != 200)
        return FALSE;

    // Read what has arrived, piece by piece, until the buffer is full or the body ends: a read
    // for the whole buffer would wait for all of a body that trickles in, however long it takes.
    std::memset(buffer, 0, size);
    DWORD total = 0;
    ULONGLONG deadline = ::GetTickCount64() + m_nTimeout * 1000ULL;
    while (total < size) {
        DWORD available = 0;
        DWORD got = 0;
        if (::GetTickCount64() > deadline || !::InternetQueryDataAvailable(get.request.get(), &available, 0, 0) ||
            !::InternetReadFile(get.request.get(), buffer + total, std::min(available, size - total), &got)) {
            if (!bQuiet)
                MessageBox("ファイルを読み込み出来ませんでした", caption, MB_OK);
            return FALSE;
        }
        if (got == 0)
            break;
        total += got;
    }
    buffer[total] = '\0';
    return TRUE;
}

#include <cerrno>
#include <cstdlib>

#include "DownloadPlan.h"
#include "Format.h"
#include "Handle.h"
#include "ProgressDlg.h"
#include "RixUrl.h"
#include "ZynUpdateDlg.h"

namespace {
void CALLBACK IgnoreInternetStatus(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

// Reads until the block is full or the body ends; false only when a read fails.
bool ReadBlock(HINTERNET request, char* block, DWORD size, DWORD& got) {
    got = 0;
    while (got < size) {
        DWORD read = 0;
        if (!::InternetReadFile(request, block + got, size - got, &read))
            return false;
        if (read == 0)
            break;
        got += read;
    }
    return true;
}

// A length that is not a plain decimal number is no length: read as 0 it would
// pass an empty file for a finished download.
bool ParseLength(const char* text, ULONGLONG& length) {
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    length = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

// Copies the body into file block by block; null when all length bytes arrived,
// else the message that says why the copy stopped.
const char* CopyBody(HINTERNET request, HANDLE file, ULONGLONG length, CProgressDlg& progress) {
    char block[kDownloadBlockBytes];
    ULONGLONG blocks = DownloadBlockCount(length);
    for (ULONGLONG k = 0; k < blocks; ++k) {
        if (progress.CheckCancel())
            return "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました";
        DWORD size = DownloadBlockSize(length, k);
        DWORD got = 0;
        // A body that ends before the announced length is as broken as a failed read.
        if (!ReadBlock(request, block, size, got) || got != size)
            return "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました";
        DWORD written = 0;
        if (!::WriteFile(file, block, got, &written, nullptr) || written != got)
            return "更新ﾌｧｲﾙの書込みに失敗しました";
        progress.SetPos(DownloadPosition(k, blocks));
    }
    return ::FlushFileBuffers(file) ? nullptr : "更新ﾌｧｲﾙの書込みに失敗しました";
}
}  // namespace

BOOL CZynUpdateDlg::Download() {
    const char caption[] = "CZynUpdateDlg::Download";
    auto fail = [this, &caption](const std::string& message) {
        MessageBox(message, caption, MB_OK);
        return FALSE;
    };

    CInternetHandle internet(::InternetOpenA(m_strAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet)
        return fail("ｲﾝﾀｰﾈｯﾄを開けませんでした");
    if (::InternetSetStatusCallback(internet.get(), IgnoreInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK)
        return fail("ｺｰﾙﾊﾞｯｸを設定できませんでした");

    // The connection goes to the URL's own port, with TLS for https.
    std::string host = m_strUpdateUrl;
    RixSetUrlParts(host, "", nullptr, "", "", "", "");
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    BOOL bSecure = FALSE;
    RixGetUrlServer(m_strUpdateUrl, port, bSecure);
    CInternetHandle connection(
        ::InternetConnectA(internet.get(), host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return fail("サーバへ接続できませんでした");

    std::string object = m_strUpdateUrl;
    RixSetUrlParts(object, "", "", "", "", nullptr, "");
    size_t slash = object.find('/');
    if (slash != std::string::npos)
        object.erase(0, slash);
    CInternetHandle request(::HttpOpenRequestA(connection.get(), "GET", object.c_str(), nullptr, nullptr, nullptr,
                                               bSecure ? INTERNET_FLAG_SECURE : 0, 0));
    if (!request)
        return fail("HTTP要求の作成ができませんでした");
    if (!::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0))
        return fail("作成したHTTP要求の発行ができませんでした");

    char status[1024] = "";
    DWORD statusBytes = sizeof(status);
    if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, status, &statusBytes, nullptr))
        return fail("ｽﾃｰﾀｽを取得できませんでした");
    if (std::atoi(status) != 200)
        return fail(StrFormat("更新ﾌｧｲﾙ[%s]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=%s)", object.c_str(), status));
    char lengthText[1024] = "";
    DWORD lengthBytes = sizeof(lengthText);
    ULONGLONG length = 0;
    if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthBytes, nullptr) ||
        !ParseLength(lengthText, length))
        return fail("更新ﾌｧｲﾙの長さを取得できませんでした");

    // Only a complete download ever carries the final name, which a later run offers to reuse.
    std::string partial = m_strUpdateFile + ".tmp";
    CFileHandle file(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file)
        return fail("更新ﾌｧｲﾙの作成に失敗しました");

    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, 100);
    progress.SetWindowText("ﾀﾞｳﾝﾛｰﾄﾞ中");
    const char* failure = CopyBody(request.get(), file.get(), length, progress);
    file.reset();
    if (!failure &&
        !::MoveFileExA(partial.c_str(), m_strUpdateFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = "更新ﾌｧｲﾙの作成に失敗しました";
    if (failure) {
        MessageBox(failure, caption, MB_OK);
        // A failed transfer leaves neither the partial file nor an older one under the final name.
        ::DeleteFileA(partial.c_str());
        ::DeleteFileA(m_strUpdateFile.c_str());
        return FALSE;
    }
    return TRUE;
}

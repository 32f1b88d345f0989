#include <cerrno>
#include <cstdlib>

#include "BodyReader.h"
#include "DownloadPlan.h"
#include "Format.h"
#include "Handle.h"
#include "ProgressDlg.h"
#include "ZynUpdateDlg.h"

namespace {
void CALLBACK IgnoreInternetStatus(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

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
const char* CopyBody(CBodyReader& reader, HANDLE file, ULONGLONG length, CProgressDlg& progress) {
    const char* const interrupted = "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました";
    const char* const failed = "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました";
    auto cancelled = [&progress] { return progress.CheckCancel() != FALSE; };
    char block[kDownloadBlockBytes];
    ULONGLONG blocks = DownloadBlockCount(length);
    for (ULONGLONG k = 0; k < blocks; ++k) {
        if (cancelled())
            return interrupted;
        DWORD size = DownloadBlockSize(length, k);
        DWORD got = 0;
        CBodyReader::Result read = reader.Read(block, size, got, cancelled);
        if (read == CBodyReader::kGivenUp)
            return interrupted;
        // A body that ends before the announced length is as broken as a failed read.
        if (read == CBodyReader::kFailed || got != size)
            return failed;
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
    // Only a complete download ever carries the final name, which a later run offers to reuse.
    std::string partial = m_strUpdateFile + ".tmp";
    // Whatever step fails, neither the partial file nor an older one is left under the final
    // name: the user asked to replace that file, and a later run would offer it again.
    auto fail = [&](const std::string& message) {
        MessageBox(message, caption, MB_OK);
        ::DeleteFileA(partial.c_str());
        ::DeleteFileA(m_strUpdateFile.c_str());
        return FALSE;
    };

    CInternetHandle internet(::InternetOpenA(m_strAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet)
        return fail("ｲﾝﾀｰﾈｯﾄを開けませんでした");
    if (::InternetSetStatusCallback(internet.get(), IgnoreInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK)
        return fail("ｺｰﾙﾊﾞｯｸを設定できませんでした");

    // The update file goes to disk once, here, and not into WinINet's cache as well.
    CHttpGet get;
    switch (HttpGet(internet.get(), m_strUpdateUrl, INTERNET_FLAG_NO_CACHE_WRITE, m_nTimeout, get)) {
    case kHttpGetConnectFailed:
        return fail("サーバへ接続できませんでした");
    case kHttpGetRequestFailed:
        return fail("HTTP要求の作成ができませんでした");
    case kHttpGetSendFailed:
        return fail("作成したHTTP要求の発行ができませんでした");
    case kHttpGetDone:
        break;
    }

    char status[1024] = "";
    DWORD statusBytes = sizeof(status);
    if (!::HttpQueryInfoA(get.request.get(), HTTP_QUERY_STATUS_CODE, status, &statusBytes, nullptr))
        return fail("ｽﾃｰﾀｽを取得できませんでした");
    if (std::atoi(status) != 200)
        return fail(StrFormat("更新ﾌｧｲﾙ[%s]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=%s)", UrlObject(m_strUpdateUrl).c_str(), status));
    char lengthText[1024] = "";
    DWORD lengthBytes = sizeof(lengthText);
    ULONGLONG length = 0;
    // A length beyond what the unzip DLL reads could only end in a failed extraction.
    if (!::HttpQueryInfoA(get.request.get(), HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthBytes, nullptr) ||
        !ParseLength(lengthText, length) || length > kMaxUpdateBytes)
        return fail("更新ﾌｧｲﾙの長さを取得できませんでした");

    CFileHandle file(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file)
        return fail("更新ﾌｧｲﾙの作成に失敗しました");

    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, 100);
    progress.SetWindowText("ﾀﾞｳﾝﾛｰﾄﾞ中");
    CBodyReader reader(internet, get);
    const char* failure = CopyBody(reader, file.get(), length, progress);
    file.reset();
    if (!failure &&
        !::MoveFileExA(partial.c_str(), m_strUpdateFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = "更新ﾌｧｲﾙの作成に失敗しました";
    return failure ? fail(failure) : TRUE;
}

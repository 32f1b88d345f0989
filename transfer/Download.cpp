#include <cstdlib>
#include <vector>

#include "BodyReader.h"
#include "DownloadPlan.h"
#include "Format.h"
#include "Handle.h"
#include "HttpRequest.h"
#include "PartialDownload.h"
#include "RixFiles.h"
#include "Server.h"
#include "UpdateFileCheck.h"

namespace {
const char kDownloadFailed[] = "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞに失敗しました";
const char kWriteFailed[] = "更新ﾌｧｲﾙの書込みに失敗しました";
const char kCreateFailed[] = "更新ﾌｧｲﾙの作成に失敗しました";
const char kNotAsSigned[] = "更新ﾌｧｲﾙが署名された内容と一致しません";
const char kCancelled[] = "更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中断しました";
const char kSendFailed[] = "作成したHTTP要求の発行ができませんでした";

// The download waits for the server's answer with its progress shown, Cancel heard.
class CProgressWait : public CServerWait {
public:
    CProgressWait(CProgress& progress, BOOL bAskCredentials) : m_progress(progress), m_bAsk(bAskCredentials) {}
    BOOL KeepWaiting() override { return !m_progress.CheckCancel(); }
    HWND CredentialsOwner() override { return m_bAsk ? m_progress.Owner() : nullptr; }

private:
    CProgress& m_progress;
    BOOL m_bAsk;
};

void CALLBACK IgnoreInternetStatus(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

// What If-Range can send back: a strong ETag, else the date; a weak ETag would never match.
std::string Validator(const CHttpRequest& request) {
    std::string etag = request.Header(HTTP_QUERY_ETAG);
    return !etag.empty() && etag.compare(0, 2, "W/") != 0 ? etag : request.Header(HTTP_QUERY_LAST_MODIFIED);
}

// Copies the body into file until done reaches total; null when all bytes arrived, else the
// message that says why the copy stopped, and cause. Only a failed write makes the bytes so far useless.
const char* CopyBody(CBodyReader& reader, HANDLE file, ULONGLONG done, ULONGLONG total, CProgress& progress,
                     bool& bUseless, CCause& cause) {
    std::vector<char> bytes;
    CSpeedFloor floor(::GetTickCount64(), done);
    cause = CCause::kServer;
    while (done < total) {
        if (progress.IsDue()) {
            progress.SetPos(DownloadPosition(done, total));
            if (progress.CheckCancel()) {
                cause = CCause::kOther;
                return kCancelled;
            }
            if (floor.TooSlow(::GetTickCount64(), done))
                return "ｻｰﾊﾞからの転送が遅すぎるため更新ﾌｧｲﾙのﾀﾞｳﾝﾛｰﾄﾞを中止しました";
        }
        CBodyReader::Result read = reader.Take(bytes, kProgressIntervalMs);
        DWORD size = static_cast<DWORD>(bytes.size() < total - done ? bytes.size() : total - done);
        DWORD written = 0;
        bUseless = !::WriteFile(file, bytes.data(), size, &written, nullptr) || written != size;
        if (bUseless) {
            cause = CauseOfError(::GetLastError());
            return kWriteFailed;
        }
        done += size;
        // A body that ends before the announced length is as broken as a failed read,
        // but what did arrive is as good as any later rest.
        if (done < total && read != CBodyReader::kMore)
            return kDownloadFailed;
    }
    progress.SetPos(100);
    return nullptr;
}
}  // namespace

BOOL UpdateFileVerified(const CUpdateFile& update, const std::string& path) {
    // With keys set, a file is trusted only against the manifest of the last check that passed.
    return update.m_strUpdateSha256.empty() ||
           FileMatchesRelease(path, update.m_nUpdateLength, update.m_strUpdateSha256);
}

BOOL CServer::Download(const CUpdateFile& update, std::string* pQuietFailure, const std::string& note) {
    if (pQuietFailure)
        pQuietFailure->clear();
    const char caption[] = "CZynUpdateDlg::Download";
    // Only a complete download ever carries the final name, which a later run offers to reuse.
    const std::string partial = update.m_strUpdateFile + ".tmp";
    const std::string sourcePath = DownloadSourcePath(partial);
    // A partial file of the same URL, with what names the server's file, is resumed from its end.
    CDownloadSource source;
    ULONGLONG resumeFrom = 0;
    WIN32_FILE_ATTRIBUTE_DATA partialData = {};
    if (ReadDownloadSource(sourcePath, source) && source.url == update.m_strUpdateUrl &&
        ::GetFileAttributesExA(partial.c_str(), GetFileExInfoStandard, &partialData)) {
        ULONGLONG size = (static_cast<ULONGLONG>(partialData.nFileSizeHigh) << 32) | partialData.nFileSizeLow;
        resumeFrom = size < source.length ? size : 0;
    }
    // Whatever step fails, no older file is left under the final name: the user asked to
    // replace it, and a later run would offer it again. The partial file stays only while
    // it can be resumed.
    bool bResumable = resumeFrom > 0;
    std::unique_ptr<CProgress> progress;
    auto fail = [&](const std::string& message, CCause cause) {
        progress.reset();
        if (pQuietFailure && message != kCancelled)
            *pQuietFailure = message;
        else
            m_person.Show(message, caption, MB_OK, CQuestion::kNone, cause);
        if (!bResumable) {
            ::DeleteFileA(partial.c_str());
            ::DeleteFileA(sourcePath.c_str());
        }
        ::DeleteFileA(update.m_strUpdateFile.c_str());
        return FALSE;
    };
    // An older file that another program holds open fails here, not after the whole body.
    if (!RixDeleteFile(update.m_strUpdateFile))
        return fail(kCreateFailed, CauseOfError(::GetLastError()));

    std::shared_ptr<CInternetHandle> internet = Internet();
    if (!internet)
        return fail("ｲﾝﾀｰﾈｯﾄを開けませんでした", CCause::kOther);
    if (::InternetSetStatusCallback(internet->get(), IgnoreInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK)
        return fail("ｺｰﾙﾊﾞｯｸを設定できませんでした", CCause::kOther);

    // The rest only, and only while the server's file is the one the partial file began.
    std::string headers;
    if (resumeFrom > 0)
        headers = "Range: bytes=" + std::to_string(resumeFrom) + "-\r\nIf-Range: " + source.validator + "\r\n";
    // Shown from the request on: Cancel is heard while the server keeps its answer back.
    progress = m_person.StartProgress();
    progress->SetRange(0, 100);
    progress->SetCaption("ﾀﾞｳﾝﾛｰﾄﾞ中");
    if (!note.empty())
        progress->SetMessage(note);
    CProgressWait wait(*progress, m_access.m_bAskCredentials);
    // The update file goes to disk once, here, and not into WinINet's cache as well.
    CHttpRequest request(internet, m_access.m_nTimeout);
    switch (request.Send(update.m_strUpdateUrl, INTERNET_FLAG_NO_CACHE_WRITE, headers, wait)) {
    case kHttpConnectFailed:
        return fail("サーバへ接続できませんでした", CCause::kServer);
    case kHttpRequestFailed:
        return fail("HTTP要求の作成ができませんでした", CCause::kServer);
    case kHttpAbandoned:
        return fail(kCancelled, CCause::kOther);
    case kHttpAnswered:
        break;
    default:  // a proxy or certificate failure names its cause
        return fail(request.Cause().empty() ? kSendFailed : std::string(kSendFailed) + "\n" + request.Cause(),
                    CCause::kServer);
    }

    std::string status = request.Header(HTTP_QUERY_STATUS_CODE);
    if (status.empty())
        return fail("ｽﾃｰﾀｽを取得できませんでした", CCause::kServer);
    const int code = std::atoi(status.c_str());
    const bool bRest = resumeFrom > 0 && code == 206;
    if (code != 200 && !bRest) {
        bResumable = bResumable && code != 416;  // a range the file does not have
        return fail(StrFormat("更新ﾌｧｲﾙ[%s]を取得できませんでした (ｽﾃｰﾀｽｺｰﾄﾞ=%s)", UrlObject(update.m_strUpdateUrl).c_str(),
                              status.c_str()),
                    CCause::kServer);
    }
    ULONGLONG length = 0;
    // A length beyond what the unzip DLL reads could only end in a failed extraction.
    if (!ParseByteCount(request.Header(HTTP_QUERY_CONTENT_LENGTH), length) || length > kMaxUpdateBytes)
        return fail("更新ﾌｧｲﾙの長さを取得できませんでした", CCause::kServer);

    ULONGLONG done = 0;
    ULONGLONG total = length;
    CFileHandle file;
    if (bRest) {
        // The part sent must be exactly the rest of the same file; else the next try starts over.
        ULONGLONG first = 0, last = 0;
        bResumable = ParseContentRange(request.Header(HTTP_QUERY_CONTENT_RANGE), first, last, total) &&
                     first == resumeFrom && total == source.length && last + 1 == total && length == total - first;
        if (!bResumable)
            return fail(kDownloadFailed, CCause::kServer);
        done = first;
        file.reset(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        LARGE_INTEGER end = {};
        end.QuadPart = static_cast<LONGLONG>(done);
        if (file && !::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN))
            file.reset();
    } else {
        // A whole body starts over; its source is written before any byte, so a partial
        // file is never paired with another file's source.
        ::DeleteFileA(sourcePath.c_str());
        file.reset(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        CDownloadSource served{update.m_strUpdateUrl, total, Validator(request)};
        bResumable = file && !served.validator.empty() && WriteDownloadSource(sourcePath, served);
    }
    if (!file) {
        bResumable = false;
        return fail(kCreateFailed, CauseOfError(::GetLastError()));
    }
    // A signed release names its length: no byte beyond it is ever read.
    if (!update.m_strUpdateSha256.empty() && total != update.m_nUpdateLength) {
        file.reset();
        bResumable = false;
        return fail(kNotAsSigned, CCause::kSignature);
    }

    CBodyReader reader(request);
    bool bUseless = false;
    CCause cause = CCause::kNone;
    const char* failure = CopyBody(reader, file.get(), done, total, *progress, bUseless, cause);
    bResumable = bResumable && !bUseless;
    file.reset();
    if (!failure && !UpdateFileVerified(update, partial)) {
        failure = kNotAsSigned;
        cause = CCause::kSignature;
        bResumable = false;
    }
    // Not flushed first: a file that a crash leaves short or empty under the final name fails
    // the signature or the archive's own checks before anything is installed from it, and
    // is then fetched again.
    if (!failure && !RixMoveFile(partial, update.m_strUpdateFile)) {
        failure = kCreateFailed;
        cause = CauseOfError(::GetLastError());
        bResumable = false;
    }
    if (failure)
        return fail(failure, cause);
    ::DeleteFileA(sourcePath.c_str());
    return TRUE;
}

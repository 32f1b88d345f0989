#pragma once
// How this run reaches the update server, and what it asks of it: small files read whole, and the
// update file downloaded, resumed and checked against what its signed manifest promised.
#include <memory>
#include <string>

#include "Handle.h"
#include "Person.h"
#include "UrlText.h"

const DWORD kDefaultTimeout = 60;

struct CServerAccess {
    std::string m_strAgent;
    // Seconds a server connection may go without progress before its step fails.
    DWORD m_nTimeout = kDefaultTimeout;
    // Whether a proxy's credentials may be asked for: not in -CHECK and -VER, which run unattended.
    BOOL m_bAskCredentials = TRUE;
    // The run's one root internet handle, opened on first use: proxy credentials given once serve every
    // later request.
    std::shared_ptr<CInternetHandle> m_pInternet;
};

// The update file to fetch, and what the signed manifest promised of it (m_strUpdateSha256 empty: nothing).
struct CUpdateFile {
    std::string m_strUpdateUrl;
    std::string m_strUpdateFile;
    ULONGLONG m_nUpdateLength = 0;
    std::string m_strUpdateSha256;
};

// What a URL that could not be read is told with, under the caption kReadUrlCaption.
std::string UrlNotOpened(const std::string& url);
extern const char kReadUrlCaption[];

class CServer {
public:
    CServer(CServerAccess& access, CPerson& person) : m_access(access), m_person(person) {}

    // The run's root internet handle; null when it cannot be opened.
    std::shared_ptr<CInternetHandle> Internet();
    // text: at most limit bytes of the body, exactly as sent. pWhy, if given, says why nothing was read.
    BOOL ReadUrlFile(const std::string& url, std::string& text, DWORD limit, BOOL bQuiet, UrlFailure* pWhy = nullptr);
    // Fetches update.m_strUpdateUrl into update.m_strUpdateFile, resuming what an interrupted download
    // left; TRUE only when the whole file is there (with the signed length and hash, if promised).
    // With pQuietFailure, a failure is not shown but told there, except the person's Cancel, which is
    // shown and leaves it empty. note, if any, is the progress's first line.
    BOOL Download(const CUpdateFile& update, std::string* pQuietFailure = nullptr,
                  const std::string& note = std::string());

private:
    CServerAccess& m_access;
    CPerson& m_person;
};

// Whether the file at path has the length and SHA-256 that update's manifest promised (TRUE when it
// promised nothing).
BOOL UpdateFileVerified(const CUpdateFile& update, const std::string& path);

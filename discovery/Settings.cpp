#include "Format.h"
#include "MessageBox.h"
#include "RixPath.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
const char kSection[] = "Setting";

// Modes 1 and 2 keep their server settings under prefixed keys in the same file.
const char* KeyPrefix(int mode) {
    switch (mode) {
    case 1:
        return "Dovi";
    case 2:
        return "7qv";
    default:
        return "";
    }
}

const char* DefaultAppName(int mode) {
    switch (mode) {
    case 1:
        return "ホルビア";
    case 2:
        return "vardoPlus";
    default:
        return "ravaZAZ";
    }
}

// Wide text as the ANSI calls name it; false when a character has no spelling there.
bool SpellAnsi(const wchar_t* wide, std::string& out) {
    BOOL lost = FALSE;
    const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lost);
    if (bytes <= 0 || bytes > MAX_PATH || lost)
        return false;
    out.assign(bytes, '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, &out[0], bytes, nullptr, &lost);
    out.resize(bytes - 1);
    return !lost;
}

// The temporary folder as the program's ANSI calls can name it: a user name in characters that code page
// 932 lacks (𠮷, hangul) comes out of GetTempPathA as "?", which names nothing; its short form does not
// need them. Empty when neither can be spelled.
std::string TempFolder() {
    wchar_t wide[MAX_PATH + 1] = L"";
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, wide);
    std::string spelled;
    if (length == 0 || length > MAX_PATH || SpellAnsi(wide, spelled))
        return spelled;
    wchar_t shortForm[MAX_PATH + 1] = L"";
    const DWORD shortLength = ::GetShortPathNameW(wide, shortForm, MAX_PATH + 1);
    if (shortLength == 0 || shortLength > MAX_PATH || !SpellAnsi(shortForm, spelled))
        spelled.clear();
    return spelled;
}

std::string ReadProfileText(const std::string& iniPath, const std::string& key, DWORD size = MAX_PATH) {
    std::string value(size, '\0');
    DWORD length = ::GetPrivateProfileStringA(kSection, key.c_str(), "", &value[0], size, iniPath.c_str());
    value.resize(length);
    return value;
}
}  // namespace

BOOL CZynUpdateDlg::ReadSetting(BOOL bQuiet, BOOL bRecover) {
    auto fail = [this, bQuiet](const std::string& message) {
        AfxMessageBox(message, MB_OK);
        if (!bQuiet)
            EndDialog(IDCANCEL);
        return FALSE;
    };

    m_strTempPath = TempFolder();
    m_strWorkDir = StrFormat("%s%s\\", m_strTempPath.c_str(), m_pApp->m_pszAppName);
    RixGetModulePath(m_strIniPath, TRUE);
    RixSetPathParts(m_strIniPath, nullptr, nullptr, nullptr, ".ini");

    std::string prefix = KeyPrefix(Mode());
    m_strFixDirUrl = ReadProfileText(m_strIniPath, prefix + "FixDirUrl");
    if (m_strFixDirUrl.empty())
        return fail(StrFormat("設定ﾌｧｲﾙ[%s]から更新ﾌｧｲﾙ格納ﾃﾞｨﾚｸﾄﾘURLの取得に失敗しました", m_strIniPath.c_str()));
    m_strFixFileName = ReadProfileText(m_strIniPath, prefix + "FixFileName");
    if (m_strFixFileName.empty())
        return fail(StrFormat("設定ﾌｧｲﾙ[%s]から更新ﾌｧｲﾙ名の取得に失敗しました", m_strIniPath.c_str()));
    m_strAppName = DefaultAppName(Mode());
    std::string appName = ReadProfileText(m_strIniPath, "AppName");
    if (!appName.empty())
        m_strAppName = appName;
    // Room for several keys: a publisher lists the old and the new one while rotating.
    m_strPublicKeys = ReadProfileText(m_strIniPath, prefix + "PublicKey", 4096);
    UINT timeout = ::GetPrivateProfileIntA(kSection, "Timeout", kDefaultTimeout, m_strIniPath.c_str());
    m_nTimeout = timeout > 0 && timeout <= 3600 ? timeout : kDefaultTimeout;

    // What a killed run left is dealt with before the Ver files are looked at: a half-written one is
    // no Ver file, and a question about Ver files must not keep an interrupted update from being undone.
    if (bRecover) {
        FindInstallation();
        // What a run with administrator rights left, only such a run can undo or finish.
        const BOOL bMayRecover = FindGenerations(TRUE).empty() || CanWriteInstallation();
        if (!bMayRecover)
            NeedRights("前回中断された作業の復旧");
        BOOL recovered = bMayRecover && LockInstallation() && RecoverInterruptedWork();
        m_lock.Release();
        if (!recovered) {
            if (!bQuiet)
                EndDialog(IDCANCEL);
            return FALSE;
        }
    }
    if (!GetZynInfo(bQuiet))
        return fail(StrFormat("%sのﾊﾞｰｼﾞｮﾝを取得できませんでした", m_strAppName.c_str()));
    // A temporary folder that cannot be named at all gives way to a folder of the program's own on the
    // installation's volume.
    if (m_strTempPath.empty() && !RixRootOf(m_strCadFolder).empty()) {
        m_strTempPath = RixRootOf(m_strCadFolder) + "~ZYNTMP\\";
        RixMakeFolder(m_strTempPath);
        m_strWorkDir = StrFormat("%s%s\\", m_strTempPath.c_str(), m_pApp->m_pszAppName);
    }
    CountRollbackLogs();
    MakeAgentString();
    return TRUE;
}

void CZynUpdateDlg::MakeAgentString() {
    m_strAgent = StrFormat("ZynUpdate MODE:%d", Mode());

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ::GetVersionExA(&version);
    m_strAgent += StrFormat(" OS:%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);

    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
        m_strAgent += "(x64)";
    else if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL)
        m_strAgent += "(x86)";
    m_strAgent += StrFormat(" CPU:%lu.%X.%X.%X", system.dwProcessorType, system.wProcessorLevel,
                            HIBYTE(system.wProcessorRevision), LOBYTE(system.wProcessorRevision));
}

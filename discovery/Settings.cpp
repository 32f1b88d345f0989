#include "Discovery.h"

#include "Format.h"
#include "RixPath.h"

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

void CDiscovery::UseTempFolder(const std::string& folder, const char* appName) {
    m_settings.m_strTempPath = folder;
    m_settings.m_strWorkDir = StrFormat("%s%s\\", folder.c_str(), appName);
}

// A temporary folder that cannot be named at all gives way to a folder of the program's own on the
// installation's volume.
void CDiscovery::UseVolumeTempFolder(const char* appName) {
    const std::string root = RixRootOf(m_installation.m_strCadFolder);
    if (!m_settings.m_strTempPath.empty() || root.empty())
        return;
    UseTempFolder(root + "~ZYNTMP\\", appName);
    RixMakeFolder(m_settings.m_strTempPath);
}

BOOL CDiscovery::ReadSettingsFile(const char* appName) {
    auto fail = [this](const std::string& message) {
        m_person.Show(message, "", MB_OK, CQuestion::kNone, CCause::kOther);
        return FALSE;
    };

    UseTempFolder(TempFolder(), appName);
    RixGetModulePath(m_settings.m_strIniPath, TRUE);
    RixSetPathParts(m_settings.m_strIniPath, nullptr, nullptr, nullptr, ".ini");

    std::string prefix = KeyPrefix(m_nMode);
    m_settings.m_strFixDirUrl = ReadProfileText(m_settings.m_strIniPath, prefix + "FixDirUrl");
    if (m_settings.m_strFixDirUrl.empty())
        return fail(StrFormat("設定ﾌｧｲﾙ[%s]から更新ﾌｧｲﾙ格納ﾃﾞｨﾚｸﾄﾘURLの取得に失敗しました", m_settings.m_strIniPath.c_str()));
    m_settings.m_strFixFileName = ReadProfileText(m_settings.m_strIniPath, prefix + "FixFileName");
    if (m_settings.m_strFixFileName.empty())
        return fail(StrFormat("設定ﾌｧｲﾙ[%s]から更新ﾌｧｲﾙ名の取得に失敗しました", m_settings.m_strIniPath.c_str()));
    m_settings.m_strAppName = DefaultAppName(m_nMode);
    std::string appNameSet = ReadProfileText(m_settings.m_strIniPath, "AppName");
    if (!appNameSet.empty())
        m_settings.m_strAppName = appNameSet;
    // Room for several keys: a publisher lists the old and the new one while rotating.
    m_settings.m_strPublicKeys = ReadProfileText(m_settings.m_strIniPath, prefix + "PublicKey", 4096);
    UINT timeout = ::GetPrivateProfileIntA(kSection, "Timeout", kDefaultTimeout, m_settings.m_strIniPath.c_str());
    m_settings.m_nTimeout = timeout > 0 && timeout <= 3600 ? timeout : kDefaultTimeout;
    return TRUE;
}

void CDiscovery::MakeAgentString() {
    m_settings.m_strAgent = StrFormat("ZynUpdate MODE:%d", m_nMode);

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ::GetVersionExA(&version);
    m_settings.m_strAgent += StrFormat(" OS:%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);

    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
        m_settings.m_strAgent += "(x64)";
    else if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL)
        m_settings.m_strAgent += "(x86)";
    m_settings.m_strAgent += StrFormat(" CPU:%lu.%X.%X.%X", system.dwProcessorType, system.wProcessorLevel,
                            HIBYTE(system.wProcessorRevision), LOBYTE(system.wProcessorRevision));
}

#include "Discovery.h"

#include <memory>
#include <new>

#include "Format.h"
#include "Handle.h"
#include "RixPath.h"
#include "VersionText.h"

namespace {
const char kCaption[] = "CZynUpdateDlg::GetZynInfo";

// -HOME, else ZYN_HOME, else the program's folder (mode 3) or its parent.
std::string FindCadFolder(const std::string& home, int mode) {
    if (!home.empty())
        return home;
    char variable[MAX_PATH] = "";
    DWORD length = ::GetEnvironmentVariableA("ZYN_HOME", variable, sizeof(variable));
    if (length > 0 && length < sizeof(variable))
        return variable;
    std::string folder;
    RixGetModulePath(folder, FALSE);
    if (mode == 3)
        return folder;
    folder = RixTrailBackslash(folder, FALSE);
    return RixSetPathParts(folder, nullptr, nullptr, "", "");
}


// The whole file, zero-terminated; false when it is missing, empty or unreadable.
bool ReadWholeFile(const std::string& path, std::unique_ptr<char[]>& text) {
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart >= MAXDWORD)
        return false;
    DWORD bytes = static_cast<DWORD>(size.QuadPart);
    text.reset(new (std::nothrow) char[bytes + 1]);
    DWORD read = 0;
    if (!text || !::ReadFile(file.get(), text.get(), bytes, &read, nullptr) || read != bytes)
        return false;
    text[bytes] = '\0';
    return true;
}
}  // namespace

void CDiscovery::FindInstallation() {
    // A relative folder is taken from the current folder, once, here; the installation hangs from the
    // folder itself (mode 3) or from its drive or network share.
    const std::string full = RixFullPath(FindCadFolder(m_strHome, m_nMode));
    m_installation.m_strCadFolder = full.empty() ? std::string() : RixTrailBackslash(full, TRUE);
    m_installation.m_strCadDir = m_nMode == 3 ? m_installation.m_strCadFolder : RixRootOf(m_installation.m_strCadFolder);
}

int CDiscovery::GetZynInfo() {
    m_installation.m_strStatus.clear();
    m_installation.m_nRevision = 0;
    m_installation.m_nVersion = 0;
    m_installation.m_strVerFile.clear();

    const std::string cadFolder = FindCadFolder(m_strHome, m_nMode);
    FindInstallation();

    CFindDataList found;
    if (RixFindFiles(m_installation.m_strCadFolder, "Ver*", found, FALSE) == 0) {
        m_person.Show(StrFormat("%s以下にVer*ﾌｧｲﾙが存在しませんでした", cadFolder.c_str()), kCaption, MB_OK);
        return 0;
    }
    // Only names of the expected form: backup copies, the program's own temporary names and other files
    // that merely begin with "Ver" are never candidates, so never deleted.
    std::vector<std::string> candidates;
    for (const WIN32_FIND_DATAA& record : found) {
        std::string name = record.cFileName;
        if (IsVerFileName(RixSetPathParts(name, "", "", nullptr, nullptr)))
            candidates.push_back(record.cFileName);
    }
    if (candidates.empty())
        return 0;

    // The first of equal keys wins.
    size_t best = 0;
    int bestKey = -1;
    std::string bestVersionText;
    for (size_t i = 0; i < candidates.size(); ++i) {
        std::string name = candidates[i];
        std::string versionText = VerFileVersionText(RixSetPathParts(name, "", "", nullptr, nullptr));
        int key = VersionKey(versionText);
        if (key > bestKey) {
            best = i;
            bestKey = key;
            bestVersionText = versionText;
        }
    }
    const std::string& bestPath = candidates[best];
    m_installation.m_nVersion = VersionCode(bestKey);

    if (candidates.size() > 1) {
        std::string question =
            StrFormat("Verﾌｧｲﾙが[%s]以外に複数存在します。\n古いVerﾌｧｲﾙを削除します。", bestPath.c_str());
        if (m_person.Show(question, "", MB_OKCANCEL, CQuestion::kOldVerFiles) != IDOK)
            return 0;
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (i != best)
                ::DeleteFileA(candidates[i].c_str());
        }
    }

    std::unique_ptr<char[]> text;
    if (!ReadWholeFile(bestPath, text)) {
        m_person.Show(StrFormat("Verﾌｧｲﾙ[%s]からﾘﾋﾞｼﾞｮﾝを取得できませんでした", bestPath.c_str()), kCaption, MB_OK);
        return 0;
    }
    m_installation.m_nRevision = ParseRevision(text.get());
    std::string fileName = bestPath;
    m_installation.m_strVerFile = RixSetPathParts(fileName, "", "", nullptr, nullptr);

    m_installation.m_strStatus = StrFormat("専用CADﾌｫﾙﾀﾞ:%s 現ﾊﾞｰｼﾞｮﾝ:%s(ﾘﾋﾞｼﾞｮﾝ.%d)", cadFolder.c_str(), bestVersionText.c_str(),
                            m_installation.m_nRevision);
    return 1;
}

#include <algorithm>
#include <cstring>

#include "Format.h"
#include "Manifest.h"
#include "MemberName.h"
#include "MessageBox.h"
#include "UpdateFileCheck.h"
#include "UrlText.h"
#include "VersionText.h"
#include "ZynUpdateDlg.h"

namespace {
const char* VerdictText(ManifestVerdict verdict) {
    switch (verdict) {
    case kManifestMalformed:
        return "署名ﾌｧｲﾙ形式不正";
    case kManifestBadSignature:
        return "署名不一致";
    case kManifestOtherVersion:
        return "ﾊﾞｰｼﾞｮﾝ不一致";
    case kManifestOtherRevision:
        return "ﾘﾋﾞｼﾞｮﾝ不一致";
    case kManifestOtherVerText:
        return "更新内容不一致";
    case kManifestExpired:
        return "有効期限切れ";
    case kManifestOtherFile:
        return "更新ﾌｧｲﾙ名不一致";
    case kManifestOtherProduct:
        return "製品不一致";
    default:
        return "";
    }
}
}  // namespace

BOOL CZynUpdateDlg::CheckSignedRelease(const char* verText, int revision, BOOL bQuiet) {
    m_nUpdateLength = 0;
    m_strUpdateSha256.clear();
    m_removed.clear();
    if (m_strPublicKeys.empty())
        return TRUE;
    auto refuse = [this, bQuiet](const char* reason) {
        if (!bQuiet)
            AfxMessageBox(StrFormat("更新情報の署名を検証できませんでした\n更新は行いません (%s)", reason),
                          MB_OK | MB_ICONWARNING);
        return FALSE;
    };
    std::vector<CPublicKey> keys;
    if (!ParsePublicKeys(m_strPublicKeys, keys))
        return refuse("公開鍵設定不正");
    char manifestText[kUrlTextBufferBytes];
    if (!ReadUrlFile(m_strVerUrl + ".sig", manifestText, kUrlTextLimit, TRUE))
        return refuse("署名ﾌｧｲﾙなし");

    CReleaseExpectation expected;
    expected.version = VerFileVersionText(m_strVerFile);
    expected.revision = revision;
    expected.verText = verText;
    expected.file = StrFormat("%s%d.EXE", m_strFixFileName.c_str(), m_nVersion);
    expected.now = UtcNow();
    expected.product = Utf8OfCodePage932(m_strAppName);
    CReleaseManifest manifest;
    // A body with a zero byte reads shorter than it is: the parser then finds no signature line.
    ManifestVerdict verdict = CheckManifest(manifestText, keys, expected, manifest);
    if (verdict != kManifestTrusted)
        return refuse(VerdictText(verdict));
    m_nUpdateLength = manifest.length;
    m_strUpdateSha256 = manifest.sha256;
    // Named as the archive names its members: from the root the archive maps onto.
    for (std::string name : manifest.removed) {
        std::replace(name.begin(), name.end(), '/', '\\');
        m_removed.push_back(m_strCadDir + name);
    }
    return TRUE;
}

BOOL CZynUpdateDlg::UpdateFileVerified(const std::string& path) const {
    // With keys set, a file is trusted only against the manifest of the last check that passed.
    return m_strPublicKeys.empty() || FileMatchesRelease(path, m_nUpdateLength, m_strUpdateSha256);
}

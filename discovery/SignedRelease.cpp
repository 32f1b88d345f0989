#include "Discovery.h"

#include <algorithm>

#include "Format.h"
#include "Manifest.h"
#include "MemberName.h"
#include "VersionText.h"

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

const char* CDiscovery::DistrustRelease(const std::string& verUrl, const std::string& version, int code,
                                           const std::string& verText, CReleaseManifest& manifest, UrlFailure& why) {
    why = kUrlNotRead;
    std::vector<CPublicKey> keys;
    if (!ParsePublicKeys(m_settings.m_strPublicKeys, keys))
        return "公開鍵設定不正";
    // One byte beyond the limit is enough to refuse a longer manifest, whatever length is announced.
    std::string manifestText;
    if (!Server().ReadUrlFile(verUrl + ".sig", manifestText, static_cast<DWORD>(kManifestLimit + 1), TRUE, &why))
        return "署名ﾌｧｲﾙなし";
    CReleaseExpectation expected;
    expected.version = version;
    expected.revision = ParseRevision(verText);
    expected.verText = verText;
    expected.file = StrFormat("%s%d.EXE", m_settings.m_strFixFileName.c_str(), code);
    expected.now = UtcNow();
    expected.product = Utf8OfCodePage932(m_settings.m_strAppName);
    // The manifest is judged byte for byte: one with a zero byte anywhere is malformed.
    ManifestVerdict verdict = CheckManifest(manifestText, keys, expected, manifest);
    return verdict == kManifestTrusted ? nullptr : VerdictText(verdict);
}

std::string DistrustMessage(const std::string& reason) {
    return "更新情報の署名を検証できませんでした\n更新は行いません (" + reason + ")";
}

BOOL CDiscovery::CheckSignedRelease(const std::string& verText, BOOL bQuiet) {
    m_release.m_nUpdateLength = 0;
    m_release.m_strUpdateSha256.clear();
    m_release.m_removed.clear();
    m_release.m_strDistrust.clear();
    m_release.m_delta = CUpdateFile();
    if (m_settings.m_strPublicKeys.empty())
        return TRUE;
    CReleaseManifest manifest;
    UrlFailure why = kUrlNotRead;
    const char* reason = DistrustRelease(m_release.m_strVerUrl, VerFileVersionText(m_installation.m_strVerFile), m_installation.m_nVersion, verText, manifest, why);
    if (!reason) {
        m_release.m_nUpdateLength = manifest.length;
        m_release.m_strUpdateSha256 = manifest.sha256;
        // Named as the archive names its members: from the root the archive maps onto.
        for (std::string name : manifest.removed) {
            std::replace(name.begin(), name.end(), '/', '\\');
            m_release.m_removed.push_back(m_installation.m_strCadDir + name);
        }
        const CDeltaAnnouncement& delta = manifest.delta;
        if (!delta.file.empty() && delta.fromRevision == m_installation.m_nRevision) {
            m_release.m_delta.m_strUpdateUrl = m_settings.m_strFixDirUrl + delta.file;
            m_release.m_delta.m_strUpdateFile = StrFormat("%s%s%d_%d_%d.DLT", m_settings.m_strTempPath.c_str(),
                                                          m_settings.m_strFixFileName.c_str(), m_installation.m_nVersion,
                                                          delta.fromRevision, manifest.revision);
            m_release.m_delta.m_nUpdateLength = delta.length;
            m_release.m_delta.m_strUpdateSha256 = delta.sha256;
        }
        return TRUE;
    }
    m_release.m_bCheckToldWhy = why != kUrlNotRead;
    m_release.m_strDistrust = reason;
    if (m_release.m_bCheckToldWhy)
        return FALSE;
    if (bQuiet)
        m_person.Fail(CCause::kSignature);
    else
        m_person.Show(DistrustMessage(reason), "", MB_OK | MB_ICONWARNING, CQuestion::kNone, CCause::kSignature);
    return FALSE;
}

#include "Discovery.h"

#include "Format.h"
#include "Manifest.h"
#include "VersionText.h"

int CDiscovery::CheckUpdate(BOOL bQuiet) {
    m_release.m_strVerText.clear();
    m_release.m_bCheckToldWhy = FALSE;
    if (!GetZynInfo()) {
        m_person.Show("専用CADのﾊﾞｰｼﾞｮﾝを取得できませんでした", "CZynUpdateDlg::CheckUpdate", MB_OK);
        return 0;
    }
    m_release.m_strVerUrl = m_settings.m_strFixDirUrl + m_installation.m_strVerFile;
    std::string text;
    UrlFailure why = kUrlNotRead;
    if (!Server().ReadUrlFile(m_release.m_strVerUrl, text, kUrlTextLimit, bQuiet, &why)) {
        // A failure already named (the proxy, a certificate) is no answer about updates.
        m_release.m_bCheckToldWhy = why != kUrlNotRead;
        if (!bQuiet && !m_release.m_bCheckToldWhy)
            m_person.Show("現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません", "", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    // The whole text as read counts, zero bytes and what follows them: it is what a manifest signs.
    int revision = ParseRevision(text);
    if (revision <= m_installation.m_nRevision) {
        if (!bQuiet)
            m_person.Show("現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません", "", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (!CheckSignedRelease(text, bQuiet))
        return 0;
    m_release.m_strVerText = text;
    m_release.m_strUpdateUrl = StrFormat("%s%s%d.EXE", m_settings.m_strFixDirUrl.c_str(), m_settings.m_strFixFileName.c_str(), m_installation.m_nVersion);
    m_release.m_strUpdateFile = StrFormat("%s%s%d_%d.EXE", m_settings.m_strTempPath.c_str(), m_settings.m_strFixFileName.c_str(), m_installation.m_nVersion, revision);
    if (!bQuiet && m_nMode != 1)
        m_person.Show(StrFormat("ﾘﾋﾞｼﾞｮﾝ[%d]への更新ﾌｧｲﾙがあります", revision), "", MB_OK | MB_ICONINFORMATION);
    return revision;
}

int CDiscovery::FindNewerVersion() {
    if (!GetZynInfo())
        return 0;
    int newest = 0;
    std::string text;
    int code = m_installation.m_nVersion;
    // Every one of the next ten versions is probed: published versions may skip numbers.
    for (int probe = 0; probe < 10; ++probe) {
        code += 10;
        const std::string version = StrFormat("%.1f", code / 100.0);
        const std::string url = m_settings.m_strFixDirUrl + "Ver" + version;
        UrlFailure why = kUrlNotRead;
        if (Server().ReadUrlFile(url, text, kUrlTextLimit, TRUE, &why)) {
            // With keys set, a version counts only when its release is signed.
            CReleaseManifest manifest;
            if (m_settings.m_strPublicKeys.empty() || !DistrustRelease(url, version, code, text, manifest, why))
                newest = code;
        }
        if (why != kUrlNotRead)  // the proxy or a certificate fails every probe alike: said once
            break;
    }
    return newest;
}

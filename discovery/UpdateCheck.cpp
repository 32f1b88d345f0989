#include "Format.h"
#include "Manifest.h"
#include "MessageBox.h"
#include "VersionText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

int CZynUpdateDlg::CheckUpdate(BOOL bQuiet) {
    m_bVerText = FALSE;
    m_strVerText.clear();
    m_bCheckToldWhy = FALSE;
    if (!GetZynInfo(bQuiet)) {
        MessageBox("専用CADのﾊﾞｰｼﾞｮﾝを取得できませんでした", "CZynUpdateDlg::CheckUpdate", MB_OK);
        return 0;
    }
    m_strVerUrl = m_strFixDirUrl + m_strVerFile;
    std::string text;
    UrlFailure why = kUrlNotRead;
    if (!ReadUrlFile(m_strVerUrl, text, kUrlTextLimit, bQuiet, &why)) {
        // A failure already named (the proxy, a certificate) is no answer about updates.
        m_bCheckToldWhy = why != kUrlNotRead;
        if (!bQuiet && !m_bCheckToldWhy)
            AfxMessageBox("現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    // The whole text as read counts, zero bytes and what follows them: it is what a manifest signs.
    int revision = ParseRevision(text);
    if (revision <= m_nRevision) {
        if (!bQuiet)
            AfxMessageBox("現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (!CheckSignedRelease(text, bQuiet))
        return 0;
    m_strVerText = text;
    m_bVerText = TRUE;
    m_strUpdateUrl = StrFormat("%s%s%d.EXE", m_strFixDirUrl.c_str(), m_strFixFileName.c_str(), m_nVersion);
    m_strUpdateFile = StrFormat("%s%s%d_%d.EXE", m_strTempPath.c_str(), m_strFixFileName.c_str(), m_nVersion, revision);
    if (!bQuiet && Mode() != 1)
        AfxMessageBox(StrFormat("ﾘﾋﾞｼﾞｮﾝ[%d]への更新ﾌｧｲﾙがあります", revision), MB_OK | MB_ICONINFORMATION);
    return revision;
}

int CZynUpdateDlg::FindNewerVersion() {
    if (!GetZynInfo(FALSE))
        return 0;
    int newest = 0;
    std::string text;
    int code = m_nVersion;
    // Every one of the next ten versions is probed: published versions may skip numbers.
    for (int probe = 0; probe < 10; ++probe) {
        code += 10;
        const std::string version = StrFormat("%.1f", code / 100.0);
        const std::string url = m_strFixDirUrl + "Ver" + version;
        UrlFailure why = kUrlNotRead;
        if (ReadUrlFile(url, text, kUrlTextLimit, TRUE, &why)) {
            // With keys set, a version counts only when its release is signed.
            CReleaseManifest manifest;
            if (m_strPublicKeys.empty() || !DistrustRelease(url, version, code, text, manifest, why))
                newest = code;
        }
        if (why != kUrlNotRead)  // the proxy or a certificate fails every probe alike: said once
            break;
    }
    return newest;
}

#include "Format.h"
#include "MessageBox.h"
#include "UrlText.h"
#include "VersionText.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

int CZynUpdateDlg::CheckUpdate(BOOL bQuiet) {
    if (!GetZynInfo(bQuiet)) {
        MessageBox("専用CADのﾊﾞｰｼﾞｮﾝを取得できませんでした", "CZynUpdateDlg::CheckUpdate", MB_OK);
        return 0;
    }
    m_strVerUrl = m_strFixDirUrl + m_strVerFile;
    char text[kUrlTextBufferBytes];
    if (!ReadUrlFile(m_strVerUrl, text, kUrlTextLimit, bQuiet)) {
        if (!bQuiet)
            AfxMessageBox("現在のﾊﾞｰｼﾞｮﾝの更新ﾌｧｲﾙはありません", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    int revision = ParseRevision(text);
    if (revision <= m_nRevision) {
        if (!bQuiet)
            AfxMessageBox("現在のﾘﾋﾞｼﾞｮﾝの更新ﾌｧｲﾙはありません", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (!CheckSignedRelease(text, revision, bQuiet))
        return 0;
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
    char text[kUrlTextBufferBytes];
    int code = m_nVersion;
    // Every one of the next ten versions is probed: published versions may skip numbers.
    for (int probe = 0; probe < 10; ++probe) {
        code += 10;
        std::string url = StrFormat("%sVer%.1f", m_strFixDirUrl.c_str(), code / 100.0);
        if (ReadUrlFile(url, text, kUrlTextLimit, TRUE))
            newest = code;
    }
    return newest;
}

#include <io.h>

#include "Format.h"
#include "MessageBox.h"
#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::ExecUpdate() {
    if (Mode() == 0 &&
        AfxMessageBox("合番固定している工事で最新の状態に更新すると\n合番が変更される可能性があります。\n続行してもよろしいですか？",
                      MB_YESNO | MB_DEFBUTTON2) != IDYES)
        return FALSE;
    if (Mode() == 0 && !ClearStrayGenerations())
        return FALSE;

    BOOL download = TRUE;
    if (_access(m_strUpdateFile.c_str(), 0) == 0)
        download = AfxMessageBox(StrFormat("既に更新ﾌｧｲﾙ[%s]が存在しています\n再度ﾀﾞｳﾝﾛｰﾄﾞしますか？", m_strUpdateFile.c_str()),
                                 MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) == IDYES;
    // A kept file that is not the signed release is fetched again.
    if (!download && !UpdateFileVerified(m_strUpdateFile))
        download = TRUE;
    if (download && !Download())
        return FALSE;
    if (Extract() == 0) {
        if (!m_bArchiveAtFault)  // the DLL, the disk or the work folder failed: the file may be sound
            return FALSE;
        // A file that does not extract never will: the next run must download it again, not offer it.
        ::DeleteFileA(m_strUpdateFile.c_str());
        MessageBox(StrFormat("更新ﾌｧｲﾙ[%s]は正しい更新ｱｰｶｲﾌﾞではないため削除しました", m_strUpdateFile.c_str()),
                   "CZynUpdateDlg::ExecUpdate", MB_OK);
        return FALSE;
    }
    std::vector<std::string> touched = m_files;  // the removals are installed paths already
    touched.insert(touched.end(), m_removed.begin(), m_removed.end());
    if (CheckFilesInUse(touched) == 0)
        return FALSE;

    // The new generation's number, under which Replace names its log and backups.
    ++m_nLogCount;
    if (!Replace(FALSE)) {
        --m_nLogCount;
        return FALSE;
    }
    return TRUE;
}

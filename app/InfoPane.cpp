#include <algorithm>
#include <cstdio>

#include "Format.h"
#include "Handle.h"
#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::DispInfo(BOOL bRestore) {
    const char caption[] = "CZynUpdateDlg::DispInfo";
    std::string text;
    if (!bRestore) {
        // The text that the check read and accepted, never a second, unchecked read. A zero byte
        // would end the pane's text: it shows as a blank, as editors show it.
        if (m_strVerText.empty()) {  // a newer revision's text is never empty
            Person().Show(StrFormat("更新内容URL[%s]を開けませんでした\n", m_strVerUrl.c_str()), caption, MB_OK);
            return FALSE;
        }
        text = "更新内容は以下の通りです\r\n\r\n" + m_strVerText;
        std::replace(text.begin(), text.end(), '\0', ' ');
    } else {
        std::string log;
        GetRollbackLogName(m_nLogCount, log);
        text = StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]の内容は以下の通りです\r\n\r\n", log.c_str());
        CStdioFile file(std::fopen(log.c_str(), "rb"));
        if (!file) {
            Person().Show(StrFormat("復元ﾛｸﾞﾌｧｲﾙ[%s]を開けませんでした\n", log.c_str()), caption, MB_OK);
            return FALSE;
        }
        char piece[4096];
        size_t got;
        while ((got = std::fread(piece, 1, sizeof(piece), file.get())) > 0)
            text.append(piece, got);
    }
    m_edtInfo.SetWindowText(text);
    return TRUE;
}

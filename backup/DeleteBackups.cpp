#include "Format.h"
#include "ProgressDlg.h"
#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::DeleteBackups(int g) {
    const int count = static_cast<int>(m_files.size());
    CProgressDlg progress;
    progress.Create(this);
    progress.SetRange(0, count);
    progress.SetWindowText("退避ﾌｧｲﾙを削除中");
    progress.EnableCancel(FALSE);
    std::string src, dst, bak;
    for (int i = 0; i < count; ++i) {
        GetBackupNames(TRUE, i, src, dst, bak, g);
        progress.SetMessage(StrFormat("退避ﾌｧｲﾙ[%s]を削除中", src.c_str()));
        ::DeleteFileA(src.c_str());  // a file that cannot be deleted simply stays
        progress.SetPos(i + 1);
    }
    std::string logName;
    GetRollbackLogName(g, logName);
    ::DeleteFileA(logName.c_str());
    return TRUE;
}

// Every generation is attempted whatever bStopOnError says: a single deletion reports
// no failure, and callers rely on the walk reaching generation 1 and the count ending at 0.
BOOL CZynUpdateDlg::DeleteAllBackups(BOOL /*bStopOnError*/) {
    for (int g = m_nLogCount; g >= 1; --g) {
        m_nLogCount = g;
        // Without its log a generation's backups cannot be named; they stay.
        if (ReadRollbackLog(FALSE))
            DeleteBackups(g);
    }
    m_nLogCount = 0;
    return TRUE;
}

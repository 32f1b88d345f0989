#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::ReadRollbackLog(BOOL) {
    return FALSE;  // not built yet
}

BOOL CZynUpdateDlg::Restore() {
    return FALSE;  // not built yet
}

#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::DeleteBackups(int) {
    return FALSE;  // not built yet
}

BOOL CZynUpdateDlg::DeleteAllBackups(BOOL) {
    return FALSE;  // not built yet
}

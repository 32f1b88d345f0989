#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::Replace(BOOL) {
    return FALSE;  // not built yet
}

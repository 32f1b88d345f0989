#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::ExecUpdate() {
    return FALSE;  // not built yet
}

#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::Download() {
    return FALSE;  // not built yet
}

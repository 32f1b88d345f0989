#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::DispInfo(BOOL) {
    return FALSE;  // not built yet
}

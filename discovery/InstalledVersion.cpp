#include "ZynUpdateDlg.h"

int CZynUpdateDlg::GetZynInfo(BOOL) {
    return 0;  // not built yet
}

#include "ZynUpdateDlg.h"

int CZynUpdateDlg::CheckUpdate(BOOL) {
    return 0;  // not built yet
}

int CZynUpdateDlg::FindNewerVersion() {
    return 0;  // not built yet
}

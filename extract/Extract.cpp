#include "ZynUpdateDlg.h"

int CZynUpdateDlg::Extract() {
    return 0;  // not built yet
}

int WINAPI CZynUpdateDlg::OnUnzipPrint(LPSTR, unsigned long length) { return static_cast<int>(length); }

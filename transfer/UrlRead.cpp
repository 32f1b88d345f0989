#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::ReadUrlFile(const std::string&, char*, DWORD, BOOL) {
    return FALSE;  // not built yet
}

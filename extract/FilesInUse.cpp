#include "ZynUpdateDlg.h"

int CZynUpdateDlg::CheckFilesInUse(std::vector<std::string>) {
    return 0;  // not built yet
}

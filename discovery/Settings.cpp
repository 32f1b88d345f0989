#include "ZynUpdateDlg.h"

BOOL CZynUpdateDlg::ReadSetting(BOOL) {
    return FALSE;  // not built yet
}

void CZynUpdateDlg::MakeAgentString() { m_strAgent.clear(); }

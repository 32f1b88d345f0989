#pragma once
// Resource ids that the program and its callers rely on.

#define IDR_MAINFRAME 5             // program icon

#define IDD_ZYNUPDATE_DIALOG 102    // full dialog, product mode 0
#define IDD_PROGRESS 103            // progress dialog
#define IDD_ZYNUPDATE_SIMPLE 104    // small dialog, the other product modes

#define IDS_PROGRESS_CAPTION 104    // "処理中"

#define IDC_CHECK_UPDATE 1000       // radio: check for updates
#define IDC_RESTORE 1001            // radio: restore the state before an update
#define IDC_INFO 1002               // information pane
#define IDC_PROGRESS_BAR 1003
#define IDC_PROGRESS_PERCENT 1004
#define IDC_EXECUTE 1005            // main dialog: execute; progress dialog: message line
#define IDC_PROGRESS_MESSAGE 1005
#define IDC_EXIT 1006
#define IDC_STATUS 1007             // status line
#define IDC_DELETE_BACKUP 1009

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

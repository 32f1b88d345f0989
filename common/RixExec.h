#pragma once
#include <windows.h>

// Starts CmdLine directly or through "ComSpec" (cmd_mode), optionally waiting
// (wait_flg). 0 started, 1 start failed, 2 wait mode 2 without a window.
int RixCmdExecute(const char* CmdLine, int cmd_mode, int wait_flg, const char* CurDir, DWORD* pExitCode, HWND hWnd);
bool RixIsBatchFile(const char* CmdLine);
void RixSetForegroundWindow(HWND hWnd);

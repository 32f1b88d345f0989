#pragma once
// The main dialog while a request waits for the server: every button but one (終了)
// disabled, its messages handled, and the wait given up once the dialog is ending.
#include <vector>

#include "Dialog.h"
#include "Person.h"

class CDialogWait : public CServerWait {
public:
    CDialogWait(CDialog& dialog, int nKeepId, BOOL bAskCredentials);
    ~CDialogWait() override;  // enables again what it disabled
    CDialogWait(const CDialogWait&) = delete;
    CDialogWait& operator=(const CDialogWait&) = delete;

    BOOL KeepWaiting() override;
    HWND CredentialsOwner() override;

private:
    CDialog& m_dialog;
    std::vector<HWND> m_disabled;
    BOOL m_bAskCredentials;
};

#include "WinApp.h"

// The framework's entry point: the one application object does the rest.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    try {
        app->m_hInstance = hInstance;
        if (app->InitInstance())
            app->Run();
        return app->ExitInstance();
    } catch (...) {
        return 1;
    }
}

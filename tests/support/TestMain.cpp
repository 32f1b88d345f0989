#include <gtest/gtest.h>

#include "ZynUpdateApp.h"

int main(int argc, char** argv) {
    // Operations reach the application object as the real program does.
    CZynUpdateApp app;
    app.CWinApp::InitInstance();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

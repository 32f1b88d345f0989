#include "ZynUpdateApp.h"

// The one application object; the framework's WinMain runs it.
CZynUpdateApp theApp;

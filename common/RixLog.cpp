#include "RixLog.h"

int RixPrintf(const char*, int, const char*, ...) {
    return -1;  // not built yet
}

#include "RixUrl.h"

BOOL RixSetUrlParts(std::string&, const char*, const char*, const char*, const char*, const char*, const char*) {
    return FALSE;  // not built yet
}

#include "UnzipApi.h"

extern "C" __declspec(dllexport) int WINAPI Wiz_SingleEntryUnzip(int, char**, int, char**, LPDCL, LPUSERFUNCTIONS) {
    return PK_BADERR;  // not built yet
}

#pragma once
// The published interface of the Info-ZIP Windows unzip DLL: its entry point and the
// two records it takes. Field order and types are those of the published records;
// their sizes follow the build's pointer width.
#include <windows.h>

typedef int(WINAPI DLLPRNT)(LPSTR text, unsigned long length);
typedef int(WINAPI DLLPASSWORD)(LPSTR password, int size, LPCSTR prompt, LPCSTR name);
typedef int(WINAPI DLLSERVICE)(LPCSTR name, unsigned long size);
typedef void(WINAPI DLLSND)(void);
typedef int(WINAPI DLLREPLACE)(LPSTR name);
typedef void(WINAPI DLLMESSAGE)(unsigned long ucsize, unsigned long csize, unsigned cfactor, unsigned month,
                                unsigned day, unsigned year, unsigned hour, unsigned minute, char c, LPCSTR name,
                                LPCSTR method, unsigned long crc, char fCrypt);

typedef struct {
    DLLPRNT* print;
    DLLSND* sound;
    DLLREPLACE* replace;
    DLLPASSWORD* password;
    DLLMESSAGE* SendApplicationMessage;
    DLLSERVICE* ServCallBk;
    unsigned long TotalSizeComp;
    unsigned long TotalSize;
    unsigned long CompFactor;
    unsigned long NumMembers;
    WORD cchComment;
} USERFUNCTIONS, *LPUSERFUNCTIONS;

typedef struct {
    int ExtractOnlyNewer;
    int SpaceToUnderscore;
    int PromptToOverwrite;
    int fQuiet;
    int ncflag;
    int ntflag;
    int nvflag;
    int nfflag;
    int nzflag;
    int ndflag;
    int noflag;
    int naflag;
    int nZIflag;
    int C_flag;
    int fPrivilege;
    LPSTR lpszZipFN;
    LPSTR lpszExtractDir;
} DCL, *LPDCL;

// Result codes of the DLL.
enum {
    PK_OK = 0,
    PK_WARN = 1,
    PK_ERR = 2,
    PK_BADERR = 3,
    PK_MEM = 4,
    PK_NOZIP = 9,
    PK_PARAM = 10,
    PK_FIND = 11,
    PK_BOMB = 12,    // members overlap: a zip bomb
    PK_CREATE = 13,  // a file or folder could not be made here (rights, a path too long for this folder):
                     // no fault of the archive's
    PK_DISK = 50,
    IZ_CTRLC = 80,  // the caller's ServCallBk asked to stop
};

typedef int(WINAPI* WizSingleEntryUnzipProc)(int ifnc, char** ifnv, int xfnc, char** xfnv, LPDCL lpDCL,
                                             LPUSERFUNCTIONS lpUserFunc);

// Our DLL's own addition. ServCallBk is called with the full path and size of each file once it is
// written whole and checked, while the DLL still holds it open sharing reads only; a call to
// Wiz_TakeExtractedFile from within it gives a new handle to that file, open for reading, that the caller
// closes. Until then nobody can write, rename or delete the file, so that what the caller reads through
// it is what was extracted. Outside ServCallBk: INVALID_HANDLE_VALUE.
typedef HANDLE(WINAPI* WizTakeExtractedFileProc)(void);

#pragma once
// Binding to the unzip DLL ("unzip32.dll", loaded at run time) for one extraction:
// owns the DLL and the two records that its entry point takes.
#include <windows.h>

#include <string>

#include "Handle.h"
#include "UnzipApi.h"

class CRixUnZip32 {
public:
    // GetResult before any call into the DLL, or after a call that never reached it.
    static constexpr int kNotCalled = -1;

    CRixUnZip32();
    virtual ~CRixUnZip32();
    CRixUnZip32(const CRixUnZip32&) = delete;
    CRixUnZip32& operator=(const CRixUnZip32&) = delete;

    // Extracts every member of archivePath into targetFolder. printCallback null uses the
    // default one, which writes to messageTarget (an existing file or mailslot) or, without
    // one, to standard output. extractedCallback, if given, is told of each file extracted, and
    // may take it (TakeExtractedFile); a non-zero answer stops the extraction. True exactly when the
    // DLL returned 0.
    bool Unzip(const std::string& targetFolder, const std::string& archivePath, DLLPRNT* printCallback,
               const char* messageTarget, DLLSERVICE* extractedCallback = nullptr);
    void FreeBuffers();
    // Within extractedCallback: the file it is told of, open for reading, which nobody may change while
    // the handle is open; none from a DLL that cannot hand its files on.
    CFileHandle TakeExtractedFile() const;

    // The result code of the last Unzip's DLL call (0 success, 1 warning, 2 and up errors).
    int GetResult() const { return m_nResult; }

    bool m_bShowComment = false;
    std::string m_strDllFolder;  // empty: the plain name with the normal DLL search

private:
    LPUSERFUNCTIONS m_pUserFunctions = nullptr;
    WizSingleEntryUnzipProc m_pWizSingleEntryUnzip = nullptr;
    WizTakeExtractedFileProc m_pTakeExtractedFile = nullptr;
    LPDCL m_pDCL = nullptr;
    CModuleHandle m_hDll;
    CGlobalMemory m_hUserFunctions;
    CGlobalMemory m_hDCL;
    int m_nResult = kNotCalled;
};

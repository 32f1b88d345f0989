#include "RixUnZip32.h"

#include <cstdio>

#include "Format.h"
#include "MessageBox.h"
#include "RixPath.h"

namespace {
const char kDllName[] = "unzip32.dll";

// Where the default print callback writes; only one extraction runs at a time.
CFileHandle g_messageTarget;

int WINAPI DefaultPrint(LPSTR text, unsigned long length) {
    if (g_messageTarget) {
        DWORD written = 0;
        ::WriteFile(g_messageTarget.get(), text, length + 1, &written, nullptr);
    } else {
        std::printf("%s\n", text);
    }
    return static_cast<int>(length);
}

int WINAPI AlwaysReplace(LPSTR) { return 1; }

// Encrypted members get no password from this program.
int WINAPI NoPassword(LPSTR, int, LPCSTR, LPCSTR) { return 1; }

void WINAPI IgnoreMemberInfo(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                             char, LPCSTR, LPCSTR, unsigned long, char) {}
}  // namespace

CRixUnZip32::CRixUnZip32() { g_messageTarget.reset(); }

CRixUnZip32::~CRixUnZip32() { g_messageTarget.reset(); }

bool CRixUnZip32::Unzip(const std::string& targetFolder, const std::string& archivePath, DLLPRNT* printCallback,
                        const char* messageTarget, DLLSERVICE* extractedCallback) {
    m_nResult = kNotCalled;
    g_messageTarget.reset();
    // The DLL takes both paths in MAX_PATH buffers.
    if (targetFolder.size() >= MAX_PATH || archivePath.size() >= MAX_PATH)
        return false;
    char zipName[MAX_PATH];
    char extractDir[MAX_PATH];
    ::lstrcpynA(zipName, archivePath.c_str(), MAX_PATH);
    ::lstrcpynA(extractDir, targetFolder.c_str(), MAX_PATH);

    m_hDCL.reset(::GlobalAlloc(GPTR, sizeof(DCL)));
    m_pDCL = m_hDCL ? static_cast<LPDCL>(::GlobalLock(m_hDCL.get())) : nullptr;
    m_hUserFunctions.reset(::GlobalAlloc(GPTR, sizeof(USERFUNCTIONS)));
    m_pUserFunctions = m_hUserFunctions ? static_cast<LPUSERFUNCTIONS>(::GlobalLock(m_hUserFunctions.get())) : nullptr;
    if (!m_pDCL || !m_pUserFunctions) {
        FreeBuffers();
        return false;
    }
    m_pUserFunctions->print = printCallback ? printCallback : DefaultPrint;
    m_pUserFunctions->sound = nullptr;
    m_pUserFunctions->replace = AlwaysReplace;
    m_pUserFunctions->password = NoPassword;
    m_pUserFunctions->SendApplicationMessage = IgnoreMemberInfo;
    m_pUserFunctions->ServCallBk = extractedCallback;

    std::string dllPath = m_strDllFolder.empty() ? kDllName : RixJoinPath(m_strDllFolder, kDllName);
    if (!m_hDll) {
        m_hDll.reset(::LoadLibraryA(dllPath.c_str()));
        FARPROC entry = m_hDll ? ::GetProcAddress(m_hDll.get(), "Wiz_SingleEntryUnzip") : nullptr;
        m_pWizSingleEntryUnzip = reinterpret_cast<WizSingleEntryUnzipProc>(reinterpret_cast<void*>(entry));
        FARPROC take = m_hDll ? ::GetProcAddress(m_hDll.get(), "Wiz_TakeExtractedFile") : nullptr;
        m_pTakeExtractedFile = reinterpret_cast<WizTakeExtractedFileProc>(reinterpret_cast<void*>(take));
        // A DLL without the entry point is of no use: it counts as not loadable.
        if (!m_pWizSingleEntryUnzip) {
            m_hDll.reset();
            AfxMessageBox(StrFormat("zip解凍用DLL[%s]を読み込みできませんでした", dllPath.c_str()), MB_OK);
            FreeBuffers();
            return false;
        }
    }

    m_pDCL->ExtractOnlyNewer = 0;
    m_pDCL->PromptToOverwrite = 0;
    m_pDCL->fQuiet = 0;
    m_pDCL->ncflag = 0;
    m_pDCL->ntflag = 0;
    m_pDCL->nvflag = 0;
    m_pDCL->nfflag = 0;
    m_pDCL->nzflag = m_bShowComment ? 1 : 0;
    m_pDCL->ndflag = 1;
    m_pDCL->noflag = 1;
    m_pDCL->naflag = 0;
    m_pDCL->lpszZipFN = zipName;
    m_pDCL->lpszExtractDir = extractDir;

    if (messageTarget)
        g_messageTarget.reset(::CreateFileA(messageTarget, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    m_nResult = m_pWizSingleEntryUnzip(0, nullptr, 0, nullptr, m_pDCL, m_pUserFunctions);
    g_messageTarget.reset();
    FreeBuffers();
    return m_nResult == PK_OK;
}

CFileHandle CRixUnZip32::TakeExtractedFile() const {
    return CFileHandle(m_pTakeExtractedFile ? m_pTakeExtractedFile() : INVALID_HANDLE_VALUE);
}

void CRixUnZip32::FreeBuffers() {
    if (m_pDCL)
        ::GlobalUnlock(m_hDCL.get());
    m_pDCL = nullptr;
    m_hDCL.reset();
    if (m_pUserFunctions)
        ::GlobalUnlock(m_hUserFunctions.get());
    m_pUserFunctions = nullptr;
    m_hUserFunctions.reset();
}

#include "Extraction.h"

#include <windows.h>

#include <sddl.h>

#include "Format.h"
#include "Handle.h"
#include "RixFiles.h"
#include "RixPath.h"

namespace {
// At the root of the installation's volume: an extracted path is five bytes longer than the installed one.
const char kOwnWorkFolder[] = "~ZYN\\";

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Removes path with everything below it. A link (a junction or a symbolic link) goes itself, never what it
// points to, so that nothing outside the folder is ever touched. TRUE when path is gone.
bool RemoveTree(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return IsMissing(::GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RixDeleteFile(path) != FALSE;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const std::string folder = RixTrailBackslash(path, TRUE);
        WIN32_FIND_DATAA data;
        CFindHandle find(::FindFirstFileA((folder + "*").c_str(), &data));
        while (find) {
            const std::string name = data.cFileName;
            if (name != "." && name != "..")
                RemoveTree(folder + name);
            if (!::FindNextFileA(find.get(), &data))
                break;
        }
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::RemoveDirectoryA(RixTrailBackslash(path, FALSE).c_str()) || IsMissing(::GetLastError());
}

// A new folder that only its maker (and the system and administrators) may enter: another user can plant
// nothing in it, nor a link that would lead the extraction elsewhere.
bool MakeOwnFolder(const std::string& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                               SDDL_REVISION_1, &descriptor, nullptr))
        security.lpSecurityDescriptor = descriptor;
    const CLocalMemory owner(descriptor);
    return ::CreateDirectoryA(RixTrailBackslash(folder, FALSE).c_str(), &security) != FALSE;
}
}  // namespace

void CExtraction::ChooseWorkFolder() {
    const std::string root = RixRootOf(m_installation.m_strCadFolder);
    const std::string own = root + kOwnWorkFolder;
    if (root.empty() || own.size() >= MAX_PATH)
        return;
    // Made here to learn whether the volume lets this user make it; the extraction makes it anew.
    if (::GetFileAttributesA(own.c_str()) != INVALID_FILE_ATTRIBUTES || MakeOwnFolder(own))
        m_settings.m_strWorkDir = own;
}

BOOL CExtraction::ClearWorkFolder() {
    m_work.m_extracted.clear();
    const char caption[] = "CZynUpdateDlg::Extract";
    // A file that stays (held open by another program) could be taken for part of the update.
    if (!RemoveTree(m_settings.m_strWorkDir)) {
        m_person.Show(
            StrFormat("作業ﾌｫﾙﾀﾞ[%s]を空にできませんでした\n中のﾌｧｲﾙを使用しているｱﾌﾟﾘｹｰｼｮﾝを終了してください",
                      m_settings.m_strWorkDir.c_str()),
            caption, MB_OK, CQuestion::kNone, CCause::kFilesInUse);
        return FALSE;
    }
    if (!MakeOwnFolder(m_settings.m_strWorkDir)) {
        const DWORD error = ::GetLastError();
        ShowFileFailure(m_person, StrFormat("作業ﾌｫﾙﾀﾞ[%s]を作成できませんでした", m_settings.m_strWorkDir.c_str()),
                        caption, error);
        return FALSE;
    }
    return TRUE;
}

void CExtraction::DropWorkFolder() {
    m_work.m_extracted.clear();
    RemoveTree(m_settings.m_strWorkDir);
}

CFileHandle CExtraction::TakeExtracted(size_t index) {
    if (index >= m_work.m_extracted.size() || !m_work.m_extracted[index])
        return CFileHandle();
    CFileHandle file = std::move(m_work.m_extracted[index]);
    LARGE_INTEGER start = {};
    ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);  // the extraction left it at its end
    return file;
}

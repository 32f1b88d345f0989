#include <io.h>

#include "Format.h"
#include "RixFiles.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"

namespace {
// The one line, in the progress and the log, that tells of an update that could not use its deltas.
const char kDeltasUnusableNote[] = "差分更新ﾌｧｲﾙを使用できないため、更新ﾌｧｲﾙ全体をﾀﾞｳﾝﾛｰﾄﾞします";

// The work folder is chosen for an extraction, and the extracted files are let go and the folder removed
// however the update ends.
class CWorkFolderScope {
public:
    explicit CWorkFolderScope(CZynUpdateDlg& dlg) : m_dlg(dlg) { m_dlg.Extraction().ChooseWorkFolder(); }
    ~CWorkFolderScope() { m_dlg.Extraction().DropWorkFolder(); }
    CWorkFolderScope(const CWorkFolderScope&) = delete;
    CWorkFolderScope& operator=(const CWorkFolderScope&) = delete;

private:
    CZynUpdateDlg& m_dlg;
};
}  // namespace

BOOL CZynUpdateDlg::ExecUpdate() {
    // An elevated run updates for its caller, which has asked the questions and downloaded the file.
    const bool bForCaller = !m_pApp->m_strElevated.empty();
    if (!bForCaller && Mode() == 0 &&
        Person().Show("合番固定している工事で最新の状態に更新すると\n合番が変更される可能性があります。\n続行してもよろしいですか？",
                      "", MB_YESNO | MB_DEFBUTTON2, CQuestion::kPieceNumbers) != IDYES)
        return FALSE;
    // Checked before anything changes; the download needs no rights.
    const BOOL bWritable = CanWriteInstallation();
    // Administrator rights are asked for in a window of the system's: only of somebody who is there.
    if (!bWritable && (bForCaller || !Person().IsAttended())) {
        NeedRights("更新");
        return FALSE;
    }
    if (bWritable && Mode() == 0 && !ClearStrayGenerations())
        return FALSE;

    // From the installed revision's deltas only what changed inside the files comes down; the whole archive
    // serves when they cannot, and when an earlier run left it here.
    std::string whyNotDeltas;
    if (bWritable && !m_delta.m_strUpdateUrl.empty() && _access(m_strUpdateFile.c_str(), 0) != 0) {
        CWorkFolderScope workFolder(*this);
        switch (UpdateFromDeltas(whyNotDeltas)) {
        case kDeltasMade:
            return InstallWorkFiles();
        case kDeltasStopped:
            return FALSE;
        case kDeltasUnusable:
            break;
        }
    }
    const std::string fallback = whyNotDeltas.empty() ? "" : kDeltasUnusableNote;
    if (!fallback.empty())
        Person().Note(fallback + " (" + whyNotDeltas + ")");

    BOOL download = TRUE;
    if (_access(m_strUpdateFile.c_str(), 0) == 0)
        download = !bForCaller &&
                   Person().Show(StrFormat("既に更新ﾌｧｲﾙ[%s]が存在しています\n再度ﾀﾞｳﾝﾛｰﾄﾞしますか？", m_strUpdateFile.c_str()),
                                 "", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2,
                                 m_strUpdateSha256.empty() ? CQuestion::kDownloadAgain
                                                           : CQuestion::kDownloadAgainChecked) == IDYES;
    // A kept file that is not the signed release is fetched again.
    if (!download && !::UpdateFileVerified(*this, m_strUpdateFile))
        download = TRUE;
    if (download && !Server().Download(*this, nullptr, fallback))
        return FALSE;
    if (!bWritable) {
        return RunElevated(kElevatedUpdate, "更新") == 0;
    }

    CWorkFolderScope workFolder(*this);
    if (Extract() == 0) {
        if (!m_bArchiveAtFault)  // the DLL, the disk or the work folder failed: the file may be sound
            return FALSE;
        // A file that does not extract never will: the next run must download it again, not offer it.
        RixDeleteFile(m_strUpdateFile);
        Person().Show(StrFormat("更新ﾌｧｲﾙ[%s]は正しい更新ｱｰｶｲﾌﾞではないため削除しました", m_strUpdateFile.c_str()),
                      "CZynUpdateDlg::ExecUpdate", MB_OK, CQuestion::kNone, CCause::kArchive);
        return FALSE;
    }
    return InstallWorkFiles();
}

CZynUpdateDlg::DeltaOutcome CZynUpdateDlg::UpdateFromDeltas(std::string& why) {
    // A delta archive is of no use after its update, nor after one that could not use it: it never stays.
    struct CDeltaFileScope {
        const std::string& path;
        ~CDeltaFileScope() { RixDeleteFile(path); }
    } deltaFile{m_delta.m_strUpdateFile};
    // Without a reason the step stopped after saying why: the person cancelled, or the work folder failed.
    if (!::UpdateFileVerified(m_delta, m_delta.m_strUpdateFile) && !Server().Download(m_delta, &why))
        return why.empty() ? kDeltasStopped : kDeltasUnusable;
    if (!Extraction().ExtractDeltas(m_delta, why))
        return why.empty() ? kDeltasStopped : kDeltasUnusable;
    return kDeltasMade;
}

BOOL CZynUpdateDlg::InstallWorkFiles() {
    std::vector<std::string> touched = m_files;  // the removals are installed paths already
    touched.insert(touched.end(), m_removed.begin(), m_removed.end());
    if (CheckFilesInUse(touched) == 0)
        return FALSE;

    // The new generation's number, under which Replace names its log and backups.
    ++m_nLogCount;
    if (!Replace(FALSE)) {
        --m_nLogCount;
        return FALSE;
    }
    return TRUE;
}

#pragma once
// The update archive turned into the files to install, and the check that no program holds an installed
// file about to be changed.
#include <string>
#include <vector>

#include "Discovery.h"
#include "Handle.h"
#include "Person.h"

// The files of the current operation: the extracted files of an update, or the installed files that a
// rollback log lists for a restore.
struct CWorkFiles {
    std::vector<std::string> m_files;
    // After Extract, what each entry of m_files was extracted as, held shut to writers until installed.
    std::vector<CFileHandle> m_extracted;
    // The last Extract failed for a fault of the archive itself.
    BOOL m_bArchiveAtFault = FALSE;
};

// A file as the extraction left it, held shut to writers since it was written.
struct CExtractedFile {
    std::string path;
    CFileHandle file;
};

// The installed file that a file of the work folder replaces; an installed path stays as it is.
std::string InstalledPath(const std::string& file, const std::string& workDir, const std::string& cadDir);

class CExtraction {
public:
    CExtraction(CSettings& settings, const CInstallation& installation, const CUpdateFile& update, CWorkFiles& work,
                CPerson& person)
        : m_settings(settings), m_installation(installation), m_update(update), m_work(work), m_person(person) {}

    // 1 when the update file's members are in the work folder and listed in m_files, the Ver file last; 0
    // after its message, with m_bArchiveAtFault set when the archive itself is what failed.
    int Extract() { return Unpack(m_update, nullptr); }
    // The same from an archive of deltas against the installed revision: each member named with kDeltaSuffix
    // after a file's name makes that file from the installed one, which must be the file it was made
    // against, and must make exactly the file it promises. 1 when every file is made; 0, with why set and
    // nothing shown, when the whole archive must serve instead.
    int ExtractDeltas(const CUpdateFile& deltas, std::string& why) {
        why.clear();
        return Unpack(deltas, &why);
    }
    static int WINAPI OnUnzipPrint(LPSTR text, unsigned long length);
    // 1 when no installed counterpart of files is held open (possibly after the person closed programs and
    // retried), 0 when not, or at once when a folder or missing rights stand in the way (no retry mends those).
    int CheckFilesInUse(std::vector<std::string> files);
    // The work folder of an update: a folder of the program's own at the root of the installation's volume
    // where one can be made, so that an extracted path is barely longer than the installed one; else the one
    // in the temporary folder.
    void ChooseWorkFolder();
    // Removes the work folder with all it holds, never following a link out of it, and makes it anew for
    // this user alone; FALSE after its message when something in it stays.
    BOOL ClearWorkFolder();
    // Lets go of the extracted files and removes the work folder.
    void DropWorkFolder();
    // Entry index's file as the extraction left it, open for reading and closed to writers since it was
    // written; none when the files did not come from Extract.
    CFileHandle TakeExtracted(size_t index);

private:
    // Extracts archive into a cleared work folder; with pDeltaFailure, an archive of deltas: makes the files
    // of its deltas and says a failure only there.
    int Unpack(const CUpdateFile& archive, std::string* pDeltaFailure);
    // Replaces each delta among files with the file it makes; FALSE, with why, at the first that fails.
    BOOL MakeFromDeltas(std::vector<CExtractedFile>& files, std::string& why);
    std::string InstalledPath(const std::string& file) const {
        return ::InstalledPath(file, m_settings.m_strWorkDir, m_installation.m_strCadDir);
    }

    CSettings& m_settings;
    const CInstallation& m_installation;
    const CUpdateFile& m_update;
    CWorkFiles& m_work;
    CPerson& m_person;
};

// The progress of the running extraction, for the unzip print callback.
extern CProgress* g_pProgressDlg;

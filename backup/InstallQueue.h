#pragma once
// Installs files while the caller goes on to the next: each file's content is put beside
// its target at once, and a thread of the queue's own flushes it and renames it over the
// target, so that the wait for the disk overlaps the work on the files that follow.
#include <memory>
#include <string>

#include "InstallFile.h"

struct CInstallJob;

// What must reach the disk before a file is renamed into place: the lines that announce it, so that
// whatever the next start finds on the disk, they name every file that was changed.
class CInstallJournal {
public:
    virtual ~CInstallJournal() = default;
    // Makes every line up to mark durable; called on the queue's thread before each rename. FALSE, with
    // the system's error kept, when it could not.
    virtual BOOL MakeDurable(ULONGLONG mark) = 0;
};

class CInstallQueue {
public:
    explicit CInstallQueue(CInstallJournal* journal = nullptr);
    // Waits for every file added to be in place or to have failed.
    ~CInstallQueue();
    CInstallQueue(const CInstallQueue&) = delete;
    CInstallQueue& operator=(const CInstallQueue&) = delete;

    // FALSE when source could not be put beside target, or when a file added earlier
    // failed; after a failure nothing more is installed, and the system's error and the
    // failed file's names are kept for the message.
    // An update's file already open (opened) is copied from its start. The journal's lines up to mark reach
    // the disk before target is replaced.
    BOOL Add(const std::string& source, const std::string& target, CSource kind, CFileHandle opened = CFileHandle(),
             ULONGLONG mark = 0);
    // Deletes target, once the journal's lines up to mark are on the disk; FALSE as Add.
    BOOL Remove(const std::string& target, ULONGLONG mark);
    // Waits until every file added is in place, the last rename on the disk too; FALSE as Add.
    BOOL Finish();

    struct CFailure {
        std::string source;
        std::string target;
        DWORD error = ERROR_SUCCESS;
    };
    // The first failure; after a FALSE from Add or Finish, GetLastError is its error too.
    const CFailure& Failure() const { return m_failure; }

private:
    BOOL Fail(const std::string& source, const std::string& target);  // FALSE, keeping the error
    BOOL Failed();  // sets the failure's error again

    std::shared_ptr<CInstallJob> m_job;
    CKernelHandle m_thread;
    bool m_failed = false;
    CFailure m_failure;
};

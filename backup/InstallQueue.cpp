#include "InstallQueue.h"

#include <deque>

#include "Lock.h"

// A file to put in place, or with no handle a file to delete.
struct CPlacedFile {
    CFileHandle handle;
    std::string source;
    std::string target;
    ULONGLONG mark = 0;
};

struct CInstallJob {
    explicit CInstallJob(CInstallJournal* journal) : journal(journal) {
        ::InitializeCriticalSection(&section);
        ::InitializeConditionVariable(&changed);
    }
    ~CInstallJob() { ::DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;  // guards what follows
    CONDITION_VARIABLE changed;
    std::deque<CPlacedFile> waiting;
    bool busy = false;  // the thread holds a file taken from waiting
    bool closing = false;
    bool failed = false;
    CInstallQueue::CFailure failure;
    CInstallJournal* const journal;
    // The file renamed last, still open: its rename reaches the disk before the queue reports success.
    CPlacedFile last;
};

namespace {
// The journal first, then the rename or the deletion; FALSE as CInstallQueue::Add.
BOOL Place(CInstallJob& job, CFileHandle& placed, const std::string& target, ULONGLONG mark) {
    if (job.journal && !job.journal->MakeDurable(mark))
        return placed ? FailWithout(target + kInstallTempSuffix, placed) : FALSE;
    return placed ? PutInPlace(placed, target) : RixDeleteFile(target);
}

DWORD WINAPI PutFilesInPlace(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<CInstallJob>> owner(static_cast<std::shared_ptr<CInstallJob>*>(parameter));
    CInstallJob& job = **owner;
    CLock lock(job.section);
    for (;;) {
        while (job.waiting.empty() && !job.closing)
            ::SleepConditionVariableCS(&job.changed, &job.section, INFINITE);
        if (job.waiting.empty())
            return 0;
        CPlacedFile file = std::move(job.waiting.front());
        job.waiting.pop_front();
        job.busy = true;
        const bool clearOnly = job.failed;
        BOOL placed = FALSE;
        DWORD error = ERROR_SUCCESS;
        ::LeaveCriticalSection(&job.section);
        if (clearOnly) {
            // After a failure what waits is only cleared away, and the undo finds the
            // installed files as they were.
            if (file.handle)
                FailWithout(file.target + kInstallTempSuffix, file.handle);
        } else {
            placed = Place(job, file.handle, file.target, file.mark);
            error = ::GetLastError();
        }
        ::EnterCriticalSection(&job.section);
        job.busy = false;
        if (!placed && !clearOnly) {
            job.failed = true;
            job.failure = {file.source, file.target, error};
        }
        if (placed && file.handle)
            job.last = std::move(file);
        ::WakeAllConditionVariable(&job.changed);
    }
}
}  // namespace

CInstallQueue::CInstallQueue(CInstallJournal* journal) : m_job(std::make_shared<CInstallJob>(journal)) {
    auto reference = std::make_unique<std::shared_ptr<CInstallJob>>(m_job);
    m_thread.reset(::CreateThread(nullptr, 0, PutFilesInPlace, reference.get(), 0, nullptr));
    if (m_thread)
        reference.release();
}

CInstallQueue::~CInstallQueue() {
    if (!m_thread)
        return;
    {
        CLock lock(m_job->section);
        m_job->closing = true;
        ::WakeAllConditionVariable(&m_job->changed);
    }
    ::WaitForSingleObject(m_thread.get(), INFINITE);
}

BOOL CInstallQueue::Add(const std::string& source, const std::string& target, CSource kind, CFileHandle opened,
                        ULONGLONG mark) {
    if (Failed())
        return FALSE;
    CFileHandle placed = PlaceBeside(source, target, kind, std::move(opened));
    if (!placed)
        return Fail(source, target);
    if (!m_thread) {  // no thread to hand it to: in place at once
        if (!Place(*m_job, placed, target, mark))
            return Fail(source, target);
        m_job->last = {std::move(placed), source, target, mark};
        return TRUE;
    }
    CLock lock(m_job->section);
    m_job->waiting.push_back({std::move(placed), source, target, mark});
    ::WakeAllConditionVariable(&m_job->changed);
    return TRUE;
}

BOOL CInstallQueue::Remove(const std::string& target, ULONGLONG mark) {
    if (Failed())
        return FALSE;
    CFileHandle none;
    if (!m_thread)
        return Place(*m_job, none, target, mark) || Fail(target, target);
    CLock lock(m_job->section);
    m_job->waiting.push_back({CFileHandle(), target, target, mark});
    ::WakeAllConditionVariable(&m_job->changed);
    return TRUE;
}

BOOL CInstallQueue::Finish() {
    if (m_thread) {
        CLock lock(m_job->section);
        while (!m_job->waiting.empty() || m_job->busy)
            ::SleepConditionVariableCS(&m_job->changed, &m_job->section, INFINITE);
    }
    if (Failed())
        return FALSE;
    // Flushed after its rename, the last file carries every rename before it to the disk: the system
    // journals them in order.
    CPlacedFile last = std::move(m_job->last);
    if (last.handle && !::FlushFileBuffers(last.handle.get()))
        return Fail(last.source, last.target);
    return TRUE;
}

BOOL CInstallQueue::Fail(const std::string& source, const std::string& target) {
    m_failure = {source, target, ::GetLastError()};
    m_failed = true;
    return FALSE;
}

BOOL CInstallQueue::Failed() {
    if (!m_failed && m_thread) {
        CLock lock(m_job->section);
        if (m_job->failed) {
            m_failure = m_job->failure;
            m_failed = true;
        }
    }
    if (m_failed)
        ::SetLastError(m_failure.error);
    return m_failed;
}

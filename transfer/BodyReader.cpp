#include "BodyReader.h"

#include <atomic>

#include "DownloadPlan.h"
#include "Lock.h"

struct CReadJob {
    CReadJob() { ::InitializeCriticalSection(&section); }
    ~CReadJob() { ::DeleteCriticalSection(&section); }
    std::shared_ptr<CInternetHandle> internet;  // declared first, closed last
    CInternetHandle connection;
    CInternetHandle request;
    CKernelHandle gathered{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    CKernelHandle drained{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<bool> abandoned{false};
    CRITICAL_SECTION section;  // guards what follows
    std::vector<char> pending;
    CBodyReader::Result state = CBodyReader::kMore;
};

namespace {
// Appends what arrived; returns how many bytes now wait.
size_t Hand(CReadJob& job, const char* bytes, DWORD size, CBodyReader::Result state) {
    CLock lock(job.section);
    job.pending.insert(job.pending.end(), bytes, bytes + size);
    job.state = state;
    return job.pending.size();
}

// The thread holds its own reference: an abandoned job lives on until its read returns,
// and is then released here. The thread never touches a file.
DWORD WINAPI ReadBody(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<CReadJob>> owner(static_cast<std::shared_ptr<CReadJob>*>(parameter));
    CReadJob& job = **owner;
    std::vector<char> block(256 * 1024);
    CBodyReader::Result state = CBodyReader::kMore;
    while (state == CBodyReader::kMore && !job.abandoned) {
        // Asking what is there first waits for the next bytes only, not for a full block, so
        // bytes that trickle in are shown as they come. A look that finds a full buffer (WinINet's
        // holds 8 KiB) says that more are queued: one big read then costs far fewer calls.
        DWORD available = 0;
        DWORD got = 0;
        if (!::InternetQueryDataAvailable(job.request.get(), &available, 0, 0) ||
            (available > 0 && !::InternetReadFile(job.request.get(), block.data(),
                                                  available >= 8192 ? block.size() : available, &got)))
            state = CBodyReader::kFailed;
        else if (got == 0)
            state = CBodyReader::kEnded;
        size_t waiting = Hand(job, block.data(), got, state);
        if (waiting >= kDownloadBatchBytes || state != CBodyReader::kMore)
            ::SetEvent(job.gathered.get());
        while (waiting >= kDownloadQueueBytes && !job.abandoned) {
            ::WaitForSingleObject(job.drained.get(), INFINITE);
            CLock lock(job.section);
            waiting = job.pending.size();
        }
    }
    return 0;
}
}  // namespace

CBodyReader::CBodyReader(CHttpRequest& request) : m_job(std::make_shared<CReadJob>()) {
    request.HandOver(m_job->internet, m_job->connection, m_job->request);
    auto reference = std::make_unique<std::shared_ptr<CReadJob>>(m_job);
    if (m_job->request && m_job->gathered && m_job->drained)
        m_thread.reset(::CreateThread(nullptr, 0, ReadBody, reference.get(), 0, nullptr));
    if (m_thread)
        reference.release();
    else
        m_job.reset();
}

CBodyReader::~CBodyReader() {
    if (!m_job)
        return;
    m_job->abandoned = true;
    ::SetEvent(m_job->drained.get());
    // A thread that is done ends at once; one blocked in a read (under Wine closing its
    // handle does not wake it) is left to end when the read returns.
    bool ended = false;
    {
        CLock lock(m_job->section);
        ended = m_job->state != kMore;
    }
    if (ended)
        ::WaitForSingleObject(m_thread.get(), INFINITE);
}

CBodyReader::Result CBodyReader::Take(std::vector<char>& bytes, DWORD waitMs) {
    bytes.clear();
    if (!m_job)
        return kFailed;
    ::WaitForSingleObject(m_job->gathered.get(), waitMs);
    CLock lock(m_job->section);
    bytes.swap(m_job->pending);
    ::SetEvent(m_job->drained.get());
    return m_job->state;
}

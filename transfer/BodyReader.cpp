#include "BodyReader.h"

#include <atomic>
#include <cstring>

#include "DownloadPlan.h"

struct CReadJob {
    CInternetHandle internet;  // declared first, closed last
    CInternetHandle connection;
    CInternetHandle request;
    CKernelHandle wanted{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    CKernelHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<bool> abandoned{false};
    char block[kDownloadBlockBytes];
    DWORD size = 0;
    DWORD got = 0;
    bool ok = false;
};

namespace {
// Reads until the block is full or the body ends; false only when a read fails.
bool ReadBlock(HINTERNET request, char* block, DWORD size, DWORD& got) {
    got = 0;
    while (got < size) {
        DWORD read = 0;
        if (!::InternetReadFile(request, block + got, size - got, &read))
            return false;
        if (read == 0)
            break;
        got += read;
    }
    return true;
}

// The thread holds its own reference: an abandoned job lives on until its read returns,
// and is then released here. The thread never touches a file.
DWORD WINAPI ReadBlocks(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<CReadJob>> owner(static_cast<std::shared_ptr<CReadJob>*>(parameter));
    CReadJob& job = **owner;
    while (::WaitForSingleObject(job.wanted.get(), INFINITE) == WAIT_OBJECT_0 && !job.abandoned) {
        job.ok = ReadBlock(job.request.get(), job.block, job.size, job.got);
        ::SetEvent(job.done.get());
    }
    return 0;
}
}  // namespace

CBodyReader::CBodyReader(CInternetHandle& internet, CHttpGet& get) : m_job(std::make_shared<CReadJob>()) {
    m_job->internet.reset(internet.release());
    m_job->connection.reset(get.connection.release());
    m_job->request.reset(get.request.release());
    auto reference = std::make_unique<std::shared_ptr<CReadJob>>(m_job);
    if (m_job->wanted && m_job->done)
        m_thread.reset(::CreateThread(nullptr, 0, ReadBlocks, reference.get(), 0, nullptr));
    if (m_thread)
        reference.release();
    else
        m_job.reset();
}

CBodyReader::~CBodyReader() {
    if (!m_job)
        return;
    m_job->abandoned = true;
    ::SetEvent(m_job->wanted.get());
    // An idle thread ends at once; one blocked in a read (under Wine closing its handle
    // does not wake it) is left to end when the read returns.
    if (!m_bReading)
        ::WaitForSingleObject(m_thread.get(), INFINITE);
}

CBodyReader::Result CBodyReader::Read(char* block, DWORD size, DWORD& got, const std::function<bool()>& giveUp) {
    got = 0;
    if (!m_job || m_bReading || size > sizeof(m_job->block))
        return kFailed;
    m_job->size = size;
    m_bReading = true;
    ::SetEvent(m_job->wanted.get());
    HANDLE done = m_job->done.get();
    // Short waits: a Cancel press is seen within a twentieth of a second.
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0) {
        if (giveUp())
            return kGivenUp;
    }
    m_bReading = false;
    if (!m_job->ok)
        return kFailed;
    std::memcpy(block, m_job->block, m_job->got);
    got = m_job->got;
    return kRead;
}

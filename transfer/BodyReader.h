#pragma once
// Reads an answer's body on a thread of its own, as fast as it arrives, so that the
// thread that copies it to disk never waits long: it keeps its windows answering and
// can give up at once, even while a read is blocked.
#include <memory>
#include <vector>

#include "HttpRequest.h"

struct CReadJob;

class CBodyReader {
public:
    // Takes over the request's handles; the last of this object and its thread to let go closes them.
    explicit CBodyReader(CHttpRequest& request);
    ~CBodyReader();
    CBodyReader(const CBodyReader&) = delete;
    CBodyReader& operator=(const CBodyReader&) = delete;

    enum Result { kMore, kEnded, kFailed };
    // Waits at most waitMs, less once a batch has gathered or the body is over, then moves
    // the bytes read so far into bytes (perhaps none). kEnded and kFailed come with the
    // last bytes that arrived before the end or the failure.
    Result Take(std::vector<char>& bytes, DWORD waitMs);

private:
    std::shared_ptr<CReadJob> m_job;
    CKernelHandle m_thread;
};

#pragma once
// Reads an answer's body on a thread of its own, one block at a time, so that the
// thread that waits for a block keeps its windows answering and can give up at
// once, even while a read is blocked.
#include <functional>
#include <memory>

#include "HttpGet.h"

struct CReadJob;

class CBodyReader {
public:
    // Takes over the handles; the last of this object and its thread to let go closes them.
    CBodyReader(CInternetHandle& internet, CHttpGet& get);
    ~CBodyReader();
    CBodyReader(const CBodyReader&) = delete;
    CBodyReader& operator=(const CBodyReader&) = delete;

    enum Result { kRead, kFailed, kGivenUp };
    // Reads up to size bytes, fewer only where the body ends. While it waits, giveUp
    // runs every few hundredths of a second; when it says so the read is abandoned.
    Result Read(char* block, DWORD size, DWORD& got, const std::function<bool()>& giveUp);

private:
    std::shared_ptr<CReadJob> m_job;
    CKernelHandle m_thread;
    bool m_bReading = false;
};

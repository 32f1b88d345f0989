// Applying a delta in constant memory: three inflaters over one delta file, the old file
// read where the control stream points, the new file written in order and hashed as it goes.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Delta.h"
#include "Handle.h"
#include "Sha256.h"

namespace {
const DWORD kBlock = 1 << 16;

BOOL ReadAt(HANDLE file, ULONGLONG offset, void* data, DWORD bytes) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ::ReadFile(file, data, bytes, &got, &at) && got == bytes;
}

ULONGLONG LittleEndian(const BYTE* bytes, int count) {
    ULONGLONG value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

// One deflated stream of the delta, inflated block by block as its reader asks.
class CInflateSource {
public:
    CInflateSource(HANDLE file, ULONGLONG offset, ULONGLONG packed, ULONGLONG raw)
        : m_file(file), m_nOffset(offset), m_nPackedLeft(packed), m_nRawLeft(raw), m_input(kBlock), m_output(kBlock) {
        m_bGood = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK;
    }
    ~CInflateSource() { inflateEnd(&m_stream); }
    CInflateSource(const CInflateSource&) = delete;
    CInflateSource& operator=(const CInflateSource&) = delete;

    // FALSE when the stream is damaged or ends first; ReadError() tells a failed read apart.
    BOOL Read(BYTE* out, size_t bytes) {
        while (bytes > 0) {
            if (m_nAvailable == 0 && (!Fill() || m_nAvailable == 0))
                return FALSE;
            const size_t part = std::min(bytes, m_nAvailable);
            std::memcpy(out, m_next, part);
            m_next += part;
            m_nAvailable -= part;
            out += part;
            bytes -= part;
        }
        return TRUE;
    }
    BOOL ReadNumber(ULONGLONG& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            BYTE next = 0;
            if (!Read(&next, 1) || (shift == 63 && next > 1))
                return FALSE;
            value |= static_cast<ULONGLONG>(next & 0x7F) << shift;
            if (next < 0x80)
                return TRUE;
        }
        return FALSE;
    }
    // Every byte the header promised was read, and not one more is there.
    BOOL AtEnd() {
        if (m_nAvailable > 0 || (!m_bEnded && (!Fill() || m_nAvailable > 0 || !m_bEnded)))
            return FALSE;
        return m_stream.avail_in == 0 && m_nPackedLeft == 0 && m_nRawLeft == 0;
    }
    DWORD ReadError() const { return m_nReadError; }

private:
    BOOL Fill() {
        m_next = m_output.data();
        while (m_bGood && m_nAvailable == 0 && !m_bEnded) {
            if (m_stream.avail_in == 0) {
                const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(kBlock, m_nPackedLeft));
                if (part == 0)
                    return FALSE;  // cut: the stream wants more than its length
                if (!ReadAt(m_file, m_nOffset, m_input.data(), part)) {
                    m_nReadError = ::GetLastError();
                    return FALSE;
                }
                m_nOffset += part;
                m_nPackedLeft -= part;
                m_stream.next_in = m_input.data();
                m_stream.avail_in = part;
            }
            m_stream.next_out = m_output.data();
            m_stream.avail_out = kBlock;
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            m_nAvailable = kBlock - m_stream.avail_out;
            m_bEnded = result == Z_STREAM_END;
            m_bGood = (m_bEnded || result == Z_OK || result == Z_BUF_ERROR) && m_nAvailable <= m_nRawLeft;
            m_nRawLeft -= m_bGood ? m_nAvailable : 0;
        }
        return m_bGood;
    }

    HANDLE m_file;
    ULONGLONG m_nOffset, m_nPackedLeft, m_nRawLeft;
    z_stream m_stream = {};
    BOOL m_bGood = FALSE;
    BOOL m_bEnded = FALSE;
    std::vector<BYTE> m_input, m_output;
    const BYTE* m_next = nullptr;
    size_t m_nAvailable = 0;
    DWORD m_nReadError = 0;
};

// The difference bytes, expanded from their (zeros, literals) pairs.
class CDifferenceSource {
public:
    explicit CDifferenceSource(CInflateSource& source) : m_source(source) {}
    BOOL Read(BYTE* out, size_t bytes) {
        while (bytes > 0) {
            if (m_nZeros == 0 && m_nLiterals == 0 &&
                (!m_source.ReadNumber(m_nZeros) || !m_source.ReadNumber(m_nLiterals)))
                return FALSE;
            ULONGLONG& run = m_nZeros > 0 ? m_nZeros : m_nLiterals;
            const size_t part = static_cast<size_t>(std::min<ULONGLONG>(bytes, run));
            if (&run == &m_nZeros)
                std::memset(out, 0, part);
            else if (!m_source.Read(out, part))
                return FALSE;
            run -= part;
            out += part;
            bytes -= part;
        }
        return TRUE;
    }
    BOOL AtEnd() { return m_nZeros == 0 && m_nLiterals == 0 && m_source.AtEnd(); }

private:
    CInflateSource& m_source;
    ULONGLONG m_nZeros = 0, m_nLiterals = 0;
};

// The new file: hashed and written in large blocks, deleted unless kept.
class CNewFile {
public:
    explicit CNewFile(const std::string& path) : m_strPath(path) {
        // Read back by whoever takes it; others may read it too, never write.
        m_file.reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        m_nError = m_file ? 0 : ::GetLastError();
        m_buffer.reserve(4 * kBlock);
    }
    ~CNewFile() {
        if (m_file && !m_bKept) {
            m_file.reset();
            ::DeleteFileA(m_strPath.c_str());
        }
    }
    CNewFile(const CNewFile&) = delete;
    CNewFile& operator=(const CNewFile&) = delete;

    BOOL Write(const BYTE* data, size_t bytes) {
        if (!m_hash.Add(data, bytes))
            return FALSE;
        m_buffer.insert(m_buffer.end(), data, data + bytes);
        return m_buffer.size() < 4 * kBlock || Flush();
    }
    BOOL Flush() {
        DWORD written = 0;
        if (!m_buffer.empty() &&
            (!::WriteFile(m_file.get(), m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &written, nullptr) ||
             written != m_buffer.size())) {
            m_nError = ::GetLastError();
            return FALSE;
        }
        m_buffer.clear();
        return TRUE;
    }
    BOOL Created() const { return m_file ? TRUE : FALSE; }
    DWORD Error() const { return m_nError; }
    BOOL Digest(BYTE digest[kSha256Bytes]) { return m_hash.Digest(digest); }
    void Keep() { m_bKept = TRUE; }
    // The kept file, open from its start.
    CFileHandle Take() {
        LARGE_INTEGER start = {};
        ::SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN);
        return std::move(m_file);
    }

private:
    std::string m_strPath;
    CFileHandle m_file;
    CSha256 m_hash;
    std::vector<BYTE> m_buffer;
    DWORD m_nError = 0;
    BOOL m_bKept = FALSE;
};

BOOL HashOfFile(HANDLE file, ULONGLONG size, BYTE digest[kSha256Bytes], DWORD& error) {
    std::vector<BYTE> block(4 * kBlock);
    CSha256 hash;
    for (ULONGLONG at = 0; at < size;) {
        const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(block.size(), size - at));
        if (!ReadAt(file, at, block.data(), part)) {
            error = ::GetLastError();
            return FALSE;
        }
        hash.Add(block.data(), part);
        at += part;
    }
    return hash.Digest(digest);
}

struct CDeltaHeader {
    ULONGLONG oldSize, newSize;
    const BYTE* oldHash;
    const BYTE* newHash;
    ULONGLONG packed[3], raw[3];
};

BOOL ParseHeader(const BYTE* bytes, ULONGLONG deltaSize, CDeltaHeader& header) {
    if (deltaSize < kDeltaHeaderBytes || std::memcmp(bytes, kDeltaMagic, sizeof(kDeltaMagic)) != 0 ||
        LittleEndian(bytes + 4, 4) != kDeltaVersion)
        return FALSE;
    header.oldSize = LittleEndian(bytes + 8, 8);
    header.newSize = LittleEndian(bytes + 16, 8);
    header.oldHash = bytes + 24;
    header.newHash = bytes + 56;
    ULONGLONG streams = 0;
    for (int i = 0; i < 3; ++i) {
        header.packed[i] = LittleEndian(bytes + 88 + 16 * i, 8);
        header.raw[i] = LittleEndian(bytes + 96 + 16 * i, 8);
        if (header.packed[i] > deltaSize)
            return FALSE;
        streams += header.packed[i];
    }
    return streams == deltaSize - kDeltaHeaderBytes;
}

DeltaResult Apply(const std::string& oldPath, HANDLE delta, const std::string& newPath, DWORD& error,
                  CFileHandle* pMade) {
    BYTE headerBytes[kDeltaHeaderBytes] = {};
    LARGE_INTEGER deltaSize = {};
    if (delta == INVALID_HANDLE_VALUE || !::GetFileSizeEx(delta, &deltaSize)) {
        error = ::GetLastError();
        return kDeltaDamaged;
    }
    CDeltaHeader header;
    if (static_cast<ULONGLONG>(deltaSize.QuadPart) < kDeltaHeaderBytes)
        return kDeltaDamaged;
    if (!ReadAt(delta, 0, headerBytes, kDeltaHeaderBytes)) {
        error = ::GetLastError();
        return kDeltaDamaged;
    }
    if (!ParseHeader(headerBytes, deltaSize.QuadPart, header))
        return kDeltaDamaged;

    // The installed file must be the one the delta was made against, before anything is written.
    CFileHandle old(::CreateFileA(oldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER oldSize = {};
    BYTE digest[kSha256Bytes];
    if (!old || !::GetFileSizeEx(old.get(), &oldSize)) {
        error = ::GetLastError();
        return kDeltaOtherOldFile;
    }
    if (static_cast<ULONGLONG>(oldSize.QuadPart) != header.oldSize ||
        !HashOfFile(old.get(), header.oldSize, digest, error) ||
        std::memcmp(digest, header.oldHash, kSha256Bytes) != 0)
        return kDeltaOtherOldFile;

    ULONGLONG offset = kDeltaHeaderBytes;
    CInflateSource control(delta, offset, header.packed[0], header.raw[0]);
    CInflateSource packedDifference(delta, offset += header.packed[0], header.packed[1], header.raw[1]);
    CInflateSource extra(delta, offset += header.packed[1], header.packed[2], header.raw[2]);
    CDifferenceSource difference(packedDifference);
    CNewFile out(newPath);
    if (!out.Created()) {
        error = out.Error();
        return kDeltaWriteFailed;
    }
    std::vector<BYTE> block(2 + kBlock), made(kBlock);
    CDifferencePredictor predictor;
    auto damaged = [&] {
        error = control.ReadError() | packedDifference.ReadError() | extra.ReadError();
        return kDeltaDamaged;
    };
    ULONGLONG oldPos = 0, newPos = 0;
    while (newPos < header.newSize) {
        ULONGLONG seek = 0, add = 0, extraBytes = 0;
        if (!control.ReadNumber(seek) || !control.ReadNumber(add) || !control.ReadNumber(extraBytes))
            return damaged();
        oldPos += (seek & 1) ? ~(seek >> 1) : seek >> 1;  // wraps: a seek before the start fails below
        if (add + extraBytes == 0 || oldPos > header.oldSize || add > header.oldSize - oldPos ||
            add > header.newSize - newPos || extraBytes > header.newSize - newPos - add)
            return damaged();
        for (ULONGLONG done = 0; done < add;) {
            // The old block comes with the two bytes before it, which the prediction reads.
            const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(kBlock, add - done));
            const DWORD lead = static_cast<DWORD>(std::min<ULONGLONG>(2, oldPos + done));
            block[0] = block[1] = 0;
            if (!ReadAt(old.get(), oldPos + done - lead, &block[2 - lead], part + lead)) {
                error = ::GetLastError();
                return kDeltaOtherOldFile;
            }
            if (!difference.Read(made.data(), part))
                return damaged();
            for (DWORD i = 0; i < part; ++i) {  // old byte i is block[i + 2]
                const BYTE byteDifference = static_cast<BYTE>(made[i] + predictor.Predict(block[i], block[i + 1]));
                predictor.Learn(byteDifference);
                made[i] = static_cast<BYTE>(block[i + 2] + byteDifference);
            }
            if (!out.Write(made.data(), part)) {
                error = out.Error();
                return kDeltaWriteFailed;
            }
            done += part;
        }
        for (ULONGLONG done = 0; done < extraBytes;) {
            const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(kBlock, extraBytes - done));
            if (!extra.Read(made.data(), part))
                return damaged();
            if (!out.Write(made.data(), part)) {
                error = out.Error();
                return kDeltaWriteFailed;
            }
            done += part;
        }
        oldPos += add;
        newPos += add + extraBytes;
    }
    if (!control.AtEnd() || !difference.AtEnd() || !extra.AtEnd())
        return damaged();
    if (!out.Flush()) {
        error = out.Error();
        return kDeltaWriteFailed;
    }
    if (!out.Digest(digest) || std::memcmp(digest, header.newHash, kSha256Bytes) != 0)
        return kDeltaResultMismatch;
    out.Keep();
    if (pMade)
        *pMade = out.Take();
    return kDeltaApplied;
}
}  // namespace

DeltaResult ApplyDelta(const std::string& oldPath, const std::string& deltaPath, const std::string& newPath,
                       DWORD* systemError, CFileHandle* pMade) {
    CFileHandle delta(::CreateFileA(deltaPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return ApplyDelta(oldPath, delta, newPath, systemError, pMade);
}

DeltaResult ApplyDelta(const std::string& oldPath, const CFileHandle& delta, const std::string& newPath,
                       DWORD* systemError, CFileHandle* pMade) {
    DWORD error = 0;
    const DeltaResult result = Apply(oldPath, delta.get(), newPath, error, pMade);
    if (systemError)
        *systemError = error;
    return result;
}

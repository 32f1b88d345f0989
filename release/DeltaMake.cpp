// Making a delta: the old region sorted by suffix (SA-IS), approximate matches found by
// extending exact ones, and the three streams deflated as they are written.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "Delta.h"
#include "Sha256.h"

namespace {
// SA-IS (Nong, Zhang and Chan): suffixes sorted in linear time, with the text's end as a
// sentinel smaller than every symbol. The reduced problem lives in sa itself.
template <class Symbol>
void SortSuffixes(const Symbol* text, int32_t* sa, int32_t n, int32_t alphabet) {
    if (n <= 1) {
        if (n == 1)
            sa[0] = 0;
        return;
    }
    // Bits, and bucket bounds counted again each time: the recursion's alphabet can be
    // nearly as large as its text.
    std::vector<bool> smaller(n);  // S type: the suffix is smaller than the next one
    for (int32_t i = n - 2; i >= 0; --i)
        smaller[i] = text[i] < text[i + 1] || (text[i] == text[i + 1] && smaller[i + 1]);
    auto leftmostSmaller = [&](int32_t i) { return i > 0 && smaller[i] && !smaller[i - 1]; };
    std::vector<int32_t> bucket(alphabet);
    auto count = [&] {
        std::fill(bucket.begin(), bucket.end(), 0);
        for (int32_t i = 0; i < n; ++i)
            ++bucket[text[i]];
    };
    auto heads = [&] {
        count();
        for (int32_t c = 0, sum = 0; c < alphabet; ++c) {
            sum += bucket[c];
            bucket[c] = sum - bucket[c];
        }
    };
    auto tails = [&] {
        count();
        for (int32_t c = 0, sum = 0; c < alphabet; ++c)
            bucket[c] = sum += bucket[c];
    };
    auto induce = [&] {
        heads();
        sa[bucket[text[n - 1]]++] = n - 1;  // induced by the sentinel
        for (int32_t k = 0; k < n; ++k)
            if (sa[k] > 0 && !smaller[sa[k] - 1])
                sa[bucket[text[sa[k] - 1]]++] = sa[k] - 1;
        tails();
        for (int32_t k = n - 1; k >= 0; --k)
            if (sa[k] > 0 && smaller[sa[k] - 1])
                sa[--bucket[text[sa[k] - 1]]] = sa[k] - 1;
    };

    // Sort the LMS substrings, then name them: equal substrings, equal names.
    std::fill(sa, sa + n, -1);
    tails();
    for (int32_t i = 1; i < n; ++i)
        if (leftmostSmaller(i))
            sa[--bucket[text[i]]] = i;
    induce();
    int32_t m = 0;
    for (int32_t k = 0; k < n; ++k)
        if (leftmostSmaller(sa[k]))
            sa[m++] = sa[k];
    std::fill(sa + m, sa + n, -1);
    int32_t names = 0;
    for (int32_t k = 0, previous = -1; k < m; ++k) {
        const int32_t p = sa[k];
        bool differs = previous < 0;
        for (int32_t d = 0; !differs; ++d) {
            if (p + d == n || previous + d == n || text[p + d] != text[previous + d] ||
                smaller[p + d] != smaller[previous + d])
                differs = true;
            else if (d > 0 && leftmostSmaller(p + d))
                break;
        }
        if (differs) {
            ++names;
            previous = p;
        }
        sa[m + p / 2] = names - 1;  // LMS positions are never adjacent
    }
    for (int32_t k = n - 1, j = n - 1; k >= m; --k)
        if (sa[k] >= 0)
            sa[j--] = sa[k];

    // Sort the LMS suffixes through the names, then induce every suffix from them.
    int32_t* reduced = sa + n - m;
    if (names < m)
        SortSuffixes(reduced, sa, m, names);
    else
        for (int32_t i = 0; i < m; ++i)
            sa[reduced[i]] = i;
    for (int32_t i = 1, j = 0; i < n; ++i)
        if (leftmostSmaller(i))
            reduced[j++] = i;
    for (int32_t k = 0; k < m; ++k)
        sa[k] = reduced[sa[k]];
    std::fill(sa + m, sa + n, -1);
    tails();
    for (int32_t k = m - 1; k >= 0; --k) {
        const int32_t p = sa[k];
        sa[k] = -1;
        sa[--bucket[text[p]]] = p;
    }
    induce();
}

// One stream, deflated as it grows; small pieces are gathered first.
class CDeflateSink {
public:
    CDeflateSink() {
        m_bGood = deflateInit2(&m_stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~CDeflateSink() { deflateEnd(&m_stream); }
    CDeflateSink(const CDeflateSink&) = delete;
    CDeflateSink& operator=(const CDeflateSink&) = delete;

    void Put(const BYTE* data, size_t bytes) {
        m_nRaw += bytes;
        if (m_gathered.size() + bytes < kGather) {
            m_gathered.insert(m_gathered.end(), data, data + bytes);
            return;
        }
        Pump(m_gathered.data(), m_gathered.size(), Z_NO_FLUSH);
        m_gathered.clear();
        Pump(data, bytes, Z_NO_FLUSH);
    }
    void PutByte(BYTE value) {
        ++m_nRaw;
        m_gathered.push_back(value);
        if (m_gathered.size() >= kGather) {
            Pump(m_gathered.data(), m_gathered.size(), Z_NO_FLUSH);
            m_gathered.clear();
        }
    }
    void PutNumber(ULONGLONG value) {
        for (; value >= 0x80; value >>= 7)
            PutByte(static_cast<BYTE>(value | 0x80));
        PutByte(static_cast<BYTE>(value));
    }
    BOOL Finish() {
        Pump(m_gathered.data(), m_gathered.size(), Z_FINISH);
        return m_bGood;
    }
    const std::string& Packed() const { return m_packed; }
    ULONGLONG Raw() const { return m_nRaw; }

private:
    static const size_t kGather = 1 << 16;

    // zlib counts in 32 bits: large pieces go in parts.
    void Pump(const BYTE* data, size_t bytes, int flush) {
        int result = Z_OK;
        do {
            const uInt part = static_cast<uInt>(std::min<size_t>(bytes, 1 << 30));
            m_stream.next_in = const_cast<BYTE*>(data);
            m_stream.avail_in = part;
            data += part;
            bytes -= part;
            const int mode = bytes > 0 ? Z_NO_FLUSH : flush;
            do {
                const size_t had = m_packed.size();
                m_packed.resize(had + kGather);
                m_stream.next_out = reinterpret_cast<BYTE*>(&m_packed[had]);
                m_stream.avail_out = kGather;
                result = m_bGood ? deflate(&m_stream, mode) : Z_STREAM_ERROR;
                m_packed.resize(had + kGather - m_stream.avail_out);
                m_bGood = result == Z_OK || result == Z_BUF_ERROR || result == Z_STREAM_END;
            } while (m_bGood && (m_stream.avail_in > 0 || (mode == Z_FINISH && result != Z_STREAM_END)));
        } while (m_bGood && bytes > 0);
    }

    z_stream m_stream = {};
    BOOL m_bGood = FALSE;
    std::vector<BYTE> m_gathered;
    std::string m_packed;
    ULONGLONG m_nRaw = 0;
};

// The three streams, written segment by segment in the order of the new file.
class CDeltaEncoder {
public:
    CDeltaEncoder(const BYTE* older, const BYTE* newer) : m_older(older), m_newer(newer) {}

    // add bytes of the new file at newPos approximate the old file's at oldPos; extra bytes follow.
    void Segment(size_t newPos, size_t oldPos, size_t add, size_t extra) {
        if (add + extra == 0)
            return;
        const LONGLONG seek = add > 0 ? static_cast<LONGLONG>(oldPos) - static_cast<LONGLONG>(m_nOldPos) : 0;
        m_control.PutNumber((static_cast<ULONGLONG>(seek) << 1) ^ static_cast<ULONGLONG>(seek >> 63));
        m_control.PutNumber(add);
        m_control.PutNumber(extra);
        m_nOldPos += seek + add;
        for (size_t q = oldPos, i = newPos; q < oldPos + add; ++q, ++i) {
            const BYTE predicted = m_predictor.Predict(q >= 2 ? m_older[q - 2] : 0, q >= 1 ? m_older[q - 1] : 0);
            const BYTE difference = static_cast<BYTE>(m_newer[i] - m_older[q]);
            m_predictor.Learn(difference);
            Difference(static_cast<BYTE>(difference - predicted));
        }
        m_extra.Put(m_newer + newPos + add, extra);
        m_nNewPos = newPos + add + extra;
    }

    // The header's stream lengths and the streams; FALSE if zlib failed or segments left a gap.
    BOOL Finish(size_t newSize, std::string& delta) {
        if (!m_literals.empty())
            PutDifferencePair();
        if (m_nLeadingZeros + m_nTrailingZeros > 0) {
            m_difference.PutNumber(m_nLeadingZeros + m_nTrailingZeros);
            m_difference.PutNumber(0);
        }
        if (!m_control.Finish() || !m_difference.Finish() || !m_extra.Finish() || m_nNewPos != newSize)
            return FALSE;
        for (const CDeflateSink* stream : {&m_control, &m_difference, &m_extra}) {
            PutLittleEndian(delta, stream->Packed().size(), 8);
            PutLittleEndian(delta, stream->Raw(), 8);
        }
        for (const CDeflateSink* stream : {&m_control, &m_difference, &m_extra})
            delta += stream->Packed();
        return TRUE;
    }

    static void PutLittleEndian(std::string& out, ULONGLONG value, int bytes) {
        for (int i = 0; i < bytes; ++i, value >>= 8)
            out += static_cast<char>(value & 0xFF);
    }

private:
    // Zero gaps up to this long stay inside a literal run: cheaper than a new pair.
    static const size_t kLiteralGap = 1;

    void Difference(BYTE value) {
        if (value == 0) {
            ++m_nTrailingZeros;
            return;
        }
        if (m_literals.empty()) {
            m_nLeadingZeros += m_nTrailingZeros;
        } else if (m_nTrailingZeros <= kLiteralGap && m_literals.size() < (1 << 16)) {
            m_literals.insert(m_literals.end(), m_nTrailingZeros, 0);
        } else {
            PutDifferencePair();
            m_nLeadingZeros = m_nTrailingZeros;
        }
        m_nTrailingZeros = 0;
        m_literals.push_back(value);
    }
    void PutDifferencePair() {
        m_difference.PutNumber(m_nLeadingZeros);
        m_difference.PutNumber(m_literals.size());
        m_difference.Put(m_literals.data(), m_literals.size());
        m_nLeadingZeros = 0;
        m_literals.clear();
    }

    const BYTE* m_older;
    const BYTE* m_newer;
    size_t m_nOldPos = 0;
    size_t m_nNewPos = 0;
    CDeflateSink m_control, m_difference, m_extra;
    CDifferencePredictor m_predictor;
    size_t m_nLeadingZeros = 0;   // before the literals being gathered
    size_t m_nTrailingZeros = 0;  // after them, not yet known to end the pair
    std::vector<BYTE> m_literals;
};

// Unmatched bytes at least this many at a window's end are tried again in the next one.
const ptrdiff_t kCarriedExtra = 4096;

size_t MatchLength(const BYTE* a, size_t aBytes, const BYTE* b, size_t bBytes) {
    const size_t most = std::min(aBytes, bBytes);
    size_t i = 0;
    while (i < most && a[i] == b[i])
        ++i;
    return i;
}

// The longest exact match of target in the old region, through its sorted suffixes.
size_t LongestMatch(const std::vector<int32_t>& sa, const BYTE* old, size_t oldBytes, const BYTE* target,
                    size_t targetBytes, size_t& pos) {
    size_t low = 0, high = oldBytes - 1;
    while (high - low >= 2) {
        const size_t middle = low + (high - low) / 2;
        const size_t at = sa[middle];
        if (std::memcmp(old + at, target, std::min(oldBytes - at, targetBytes)) < 0)
            low = middle;
        else
            high = middle;
    }
    const size_t lowLength = MatchLength(old + sa[low], oldBytes - sa[low], target, targetBytes);
    const size_t highLength = MatchLength(old + sa[high], oldBytes - sa[high], target, targetBytes);
    pos = lowLength > highLength ? sa[low] : sa[high];
    return std::max(lowLength, highLength);
}

// One window of the new file against one region of the old, after Percival's matcher: an
// exact match that the current alignment does not nearly explain starts a new segment,
// and each segment keeps of its alignment only the stretch where at least half the bytes
// agree. With carry, a long unmatched end is left to the next window, whose region may
// hold it. Returns the new bytes done; drift gets the last alignment (old minus new).
struct CWindow {
    const BYTE* old;
    ptrdiff_t oldBytes;
    size_t oldBase;  // of the region in the old file
    const BYTE* neu;
    ptrdiff_t newBytes;
    size_t newBase;
    ptrdiff_t startPos;  // the region position the first segment starts from
    bool carry;
};

size_t MatchWindow(const CWindow& window, const std::vector<int32_t>& sa, CDeltaEncoder& encoder, ptrdiff_t& drift) {
    const BYTE* const old = window.old;
    const BYTE* const neu = window.neu;
    const ptrdiff_t oldBytes = window.oldBytes, newBytes = window.newBytes;
    auto agree = [&](ptrdiff_t oldAt, ptrdiff_t newAt) {
        return oldAt >= 0 && oldAt < oldBytes && old[oldAt] == neu[newAt];
    };
    ptrdiff_t scan = 0, length = 0, pos = 0, lastScan = 0, lastPos = window.startPos, lastOffset = window.startPos;
    ptrdiff_t ending = window.startPos;  // the alignment of the last segment
    while (scan < newBytes) {
        ptrdiff_t oldScore = 0;
        for (ptrdiff_t counted = scan += length; scan < newBytes; ++scan) {
            size_t found = 0;
            length = oldBytes > 0 ? LongestMatch(sa, old, oldBytes, neu + scan, newBytes - scan, found) : 0;
            pos = found;
            for (; counted < scan + length; ++counted)
                oldScore += agree(counted + lastOffset, counted);
            if ((length == oldScore && length != 0) || length > oldScore + 8)
                break;
            oldScore -= agree(scan + lastOffset, scan);
        }
        if (length == oldScore && scan != newBytes)
            continue;

        ptrdiff_t forward = 0;  // from the last segment's start, while half the bytes agree
        for (ptrdiff_t i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < oldBytes;) {
            same += old[lastPos + i] == neu[lastScan + i];
            ++i;
            if (same * 2 - i > best * 2 - forward) {
                best = same;
                forward = i;
            }
        }
        ptrdiff_t backward = 0;  // back from the new match
        if (scan < newBytes)
            for (ptrdiff_t i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                same += old[pos - i] == neu[scan - i];
                if (same * 2 - i > best * 2 - backward) {
                    best = same;
                    backward = i;
                }
            }
        if (lastScan + forward > scan - backward) {  // overlap: split where it loses least
            const ptrdiff_t overlap = lastScan + forward - (scan - backward);
            ptrdiff_t same = 0, best = 0, split = 0;
            for (ptrdiff_t i = 0; i < overlap; ++i) {
                same += neu[lastScan + forward - overlap + i] == old[lastPos + forward - overlap + i];
                same -= neu[scan - backward + i] == old[pos - backward + i];
                if (same > best) {
                    best = same;
                    split = i + 1;
                }
            }
            forward += split - overlap;
            backward -= split;
        }
        if (forward > 0)
            ending = lastPos - lastScan;
        const ptrdiff_t extra = (scan - backward) - (lastScan + forward);
        if (window.carry && scan == newBytes && extra >= kCarriedExtra && lastScan + forward >= newBytes / 4) {
            encoder.Segment(window.newBase + lastScan, window.oldBase + lastPos, forward, 0);
            drift = static_cast<ptrdiff_t>(window.oldBase) + ending - static_cast<ptrdiff_t>(window.newBase);
            return lastScan + forward;
        }
        encoder.Segment(window.newBase + lastScan, window.oldBase + lastPos, forward, extra);
        lastScan = scan - backward;
        lastPos = pos - backward;
        lastOffset = pos - scan;
    }
    drift = static_cast<ptrdiff_t>(window.oldBase) + ending - static_cast<ptrdiff_t>(window.newBase);
    return newBytes;
}

// Where a window of the new file lies in an old file too large to sort whole: blocks of
// the old file sampled at a fixed stride, looked for at every position of the window.
class CAnchors {
public:
    CAnchors(const BYTE* old, size_t oldBytes, size_t stride) : m_old(old), m_filter(kFilterBits / 64) {
        for (size_t at = 0; at + kBlock <= oldBytes; at += stride) {
            const ULONGLONG hash = Hash(old + at);
            m_filter[Bit(hash) / 64] |= 1ULL << (Bit(hash) % 64);
            m_blocks.emplace(hash, at);
        }
    }
    // The old position the window's start most likely corresponds to: the one that most
    // found blocks agree on within a span, blocks early in the window counting more, since
    // a window's unmatched end is tried again in the next. FALSE when no block is found.
    BOOL Locate(const BYTE* window, size_t bytes, size_t span, ptrdiff_t& start) const {
        if (bytes < kBlock)
            return FALSE;
        std::vector<std::pair<ptrdiff_t, size_t>> starts;  // with their weights
        ULONGLONG hash = Hash(window), outgoing = 1;
        for (size_t i = 1; i < kBlock; ++i)
            outgoing *= kBase;
        for (size_t at = 0;; ++at) {
            if (m_filter[Bit(hash) / 64] >> (Bit(hash) % 64) & 1) {
                auto found = m_blocks.find(hash);
                if (found != m_blocks.end() && std::memcmp(m_old + found->second, window + at, kBlock) == 0 &&
                    starts.size() < kMostStarts)
                    starts.emplace_back(static_cast<ptrdiff_t>(found->second) - static_cast<ptrdiff_t>(at), bytes - at);
            }
            if (at + kBlock >= bytes)
                break;
            hash = (hash - window[at] * outgoing) * kBase + window[at + kBlock];
        }
        if (starts.empty())
            return FALSE;
        std::sort(starts.begin(), starts.end());
        ULONGLONG best = 0, weight = 0;
        for (size_t first = 0, last = 0; last < starts.size(); ++last) {
            weight += starts[last].second;
            for (; starts[last].first - starts[first].first >= static_cast<ptrdiff_t>(span); ++first)
                weight -= starts[first].second;
            if (weight > best) {
                best = weight;
                start = starts[first].first;
            }
        }
        return TRUE;
    }

private:
    static const size_t kBlock = 32;
    static const size_t kFilterBits = 1 << 20;
    static const size_t kMostStarts = 1 << 16;
    static const ULONGLONG kBase = 0x100000001B3ULL;

    static ULONGLONG Hash(const BYTE* block) {
        ULONGLONG hash = 0;
        for (size_t i = 0; i < kBlock; ++i)
            hash = hash * kBase + block[i];
        return hash;
    }
    static size_t Bit(ULONGLONG hash) { return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ULL) >> 44); }

    const BYTE* m_old;
    std::vector<ULONGLONG> m_filter;
    std::unordered_map<ULONGLONG, size_t> m_blocks;
};

BOOL HashOf(const std::string& bytes, BYTE digest[kSha256Bytes]) {
    CSha256 hash;
    return hash.Add(bytes.data(), bytes.size()) && hash.Digest(digest);
}

BOOL Make(const std::string& oldBytes, const std::string& newBytes, std::string& delta, size_t window) {
    BYTE oldHash[kSha256Bytes], newHash[kSha256Bytes];
    if (!HashOf(oldBytes, oldHash) || !HashOf(newBytes, newHash))
        return FALSE;
    const BYTE* older = reinterpret_cast<const BYTE*>(oldBytes.data());
    const BYTE* newer = reinterpret_cast<const BYTE*>(newBytes.data());
    const size_t oldSize = oldBytes.size(), newSize = newBytes.size();
    window = std::min<size_t>(std::max<size_t>(window, 1 << 12), 1 << 29);  // a region's positions fit in 31 bits

    CDeltaEncoder encoder(older, newer);
    std::vector<int32_t> sa;
    size_t sortedStart = 0, sortedBytes = 0;
    ptrdiff_t drift = 0;  // where the last window ended in the old file, relative to the new
    const size_t slack = window / 4, regionMost = window + 2 * slack;
    std::unique_ptr<CAnchors> anchors;
    for (size_t newStart = 0; newStart < newSize;) {
        const size_t newBytesHere = std::min(window, newSize - newStart);
        // The region starts a little before where the window's blocks were found, or else
        // where the last window's alignment leads.
        size_t regionStart = 0, regionBytes = oldSize;
        if (oldSize > regionMost) {
            if (!anchors)
                anchors.reset(new CAnchors(older, oldSize, std::max<size_t>(window / 1024, 256)));
            ptrdiff_t found = static_cast<ptrdiff_t>(newStart) + drift;
            anchors->Locate(newer + newStart, newBytesHere, slack, found);
            const ptrdiff_t wanted = found - static_cast<ptrdiff_t>(slack);
            regionStart = std::min(static_cast<size_t>(std::max<ptrdiff_t>(wanted, 0)), oldSize - regionMost);
            regionBytes = regionMost;
        }
        if (sa.empty() || regionStart != sortedStart || regionBytes != sortedBytes) {
            sa.assign(regionBytes, 0);
            SortSuffixes(older + regionStart, sa.data(), static_cast<int32_t>(regionBytes), 256);
            sortedStart = regionStart;
            sortedBytes = regionBytes;
        }
        const ptrdiff_t startPos = std::min<ptrdiff_t>(
            std::max<ptrdiff_t>(static_cast<ptrdiff_t>(newStart) + drift - static_cast<ptrdiff_t>(regionStart), 0),
            regionBytes);
        const CWindow here = {older + regionStart, static_cast<ptrdiff_t>(regionBytes), regionStart,
                              newer + newStart, static_cast<ptrdiff_t>(newBytesHere), newStart, startPos,
                              oldSize > regionMost};
        newStart += MatchWindow(here, sa, encoder, drift);
    }
    std::vector<int32_t>().swap(sa);

    delta.assign(kDeltaMagic, sizeof(kDeltaMagic));
    CDeltaEncoder::PutLittleEndian(delta, kDeltaVersion, 4);
    CDeltaEncoder::PutLittleEndian(delta, oldSize, 8);
    CDeltaEncoder::PutLittleEndian(delta, newSize, 8);
    delta.append(reinterpret_cast<const char*>(oldHash), kSha256Bytes);
    delta.append(reinterpret_cast<const char*>(newHash), kSha256Bytes);
    return encoder.Finish(newSize, delta);
}
}  // namespace

BOOL MakeDelta(const std::string& oldBytes, const std::string& newBytes, std::string& delta, size_t window) {
    try {
        return Make(oldBytes, newBytes, delta, window);
    } catch (const std::bad_alloc&) {
        delta.clear();
        return FALSE;
    }
}

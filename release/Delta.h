#pragma once
// Binary deltas between two versions of one file, made by the publisher and applied by the
// updater. The matching is the suffix-sorting kind: approximate matches against the old
// file whose byte differences, mostly zero even where code moved, go to a difference
// stream; unmatched bytes go to an extra stream.
//
// A delta, integers little-endian:
//   "ZDLT", format version (4 bytes, 1), old size (8), new size (8),
//   SHA-256 of the old file (32), SHA-256 of the new file (32),
//   for each stream (control, difference, extra): packed length (8), inflated length (8),
//   then the three streams back to back, each raw deflate.
// The header says everything up front, so that a wrong installed file is refused before a
// byte is written and a cut delta before its streams are read.
// Control: triples of LEB128 numbers (seek, zigzag-signed; add; extra): move the old
// position by seek, write add bytes of the old file plus the difference bytes, then extra
// bytes from the extra stream. Seek comes first so that no triple is needed only to move.
// Difference: pairs (zero count, literal count) as LEB128, each followed by its literal
// bytes; a few moved addresses in megabytes of matching bytes thus cost a few bytes. Each
// difference byte is stored less the prediction below.
#include <windows.h>

#include <string>
#include <vector>

#include "Handle.h"

const char kDeltaMagic[4] = {'Z', 'D', 'L', 'T'};
const DWORD kDeltaVersion = 1;
const size_t kDeltaHeaderBytes = 4 + 4 + 8 + 8 + 32 + 32 + 3 * 16;
// New bytes matched at once against a region of the old file one and a half times this size
// around the same place: the suffix array and its sorting take about 6 bytes per byte of the
// region, so making a delta needs about 9 windows beyond the two files, whatever their size.
const size_t kDeltaWindow = 32 << 20;

// The delta that makes newBytes from oldBytes; FALSE only when memory or CNG fail.
BOOL MakeDelta(const std::string& oldBytes, const std::string& newBytes, std::string& delta,
               size_t window = kDeltaWindow);

enum DeltaResult {
    kDeltaApplied,
    kDeltaOtherOldFile,    // missing, unreadable, or not the file the delta was made against
    kDeltaDamaged,         // not a delta, cut, or streams that contradict the header
    kDeltaResultMismatch,  // applied, but not to the file the delta promises
    kDeltaWriteFailed,     // the new file could not be created or written (a full disk)
};

// Makes newPath (code page 932, not the old path) from oldPath and the delta, in constant
// memory: the old file is read where the control stream points, the streams are inflated
// as they are used and the new file written in order. Anything but kDeltaApplied leaves
// no new file. systemError, if given, gets the Windows error of a failed read or write;
// pMade, if given, the new file still open from its start, closed to writers since it was made.
DeltaResult ApplyDelta(const std::string& oldPath, const std::string& deltaPath, const std::string& newPath,
                       DWORD* systemError = nullptr, CFileHandle* pMade = nullptr);
// The same from a delta already open for reading (from an extraction that keeps it shut to writers).
DeltaResult ApplyDelta(const std::string& oldPath, const CFileHandle& delta, const std::string& newPath,
                       DWORD* systemError = nullptr, CFileHandle* pMade = nullptr);

// In a delta archive, the member that makes a file carries the file's name and this after it.
const char kDeltaSuffix[] = ".ZYNDELTA";

// When code moves, the references in it change by the same amount after the same
// instruction bytes: the difference after two given old bytes, once seen twice in a row,
// is predicted to come again. Random rewrites never repeat, so they are not predicted.
class CDifferencePredictor {
public:
    CDifferencePredictor() : m_seen(1 << 16) {}
    // The prediction for the byte at old position q, whose two old bytes before it are given
    // (zeros before the file's start).
    BYTE Predict(BYTE before2, BYTE before1) {
        m_context = before2 << 8 | before1;
        return m_seen[m_context].repeated ? m_seen[m_context].difference : 0;
    }
    // The actual difference at the position just predicted.
    void Learn(BYTE difference) {
        CSeen& seen = m_seen[m_context];
        seen.repeated = seen.difference == difference;
        seen.difference = difference;
    }

private:
    struct CSeen {
        BYTE difference = 0;
        bool repeated = false;
    };
    std::vector<CSeen> m_seen;
    unsigned m_context = 0;
};

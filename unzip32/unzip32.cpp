// unzip32.dll: the extraction entry point of the Info-ZIP Windows DLL interface, for
// stored and deflated members, with results and printed texts as that DLL gives them.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "MemberPath.h"
#include "UnzipApi.h"
#include "ZipDirectory.h"

namespace {
const WORD kStored = 0;
const WORD kDeflated = 8;
const DWORD kOutputChunk = 64 * 1024;

// Shell-style match of a stored name against an include or exclude pattern: "*" any
// run of characters, "?" any one.
bool MatchPattern(const char* pattern, const char* name, bool ignoreCase) {
    auto fold = [ignoreCase](unsigned char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? c + 32 : c; };
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || (*pattern && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool MatchesAny(int count, char** patterns, const std::string& name, bool ignoreCase) {
    for (int i = 0; i < count; ++i)
        if (patterns && patterns[i] && MatchPattern(patterns[i], name.c_str(), ignoreCase))
            return true;
    return false;
}

bool WriteAll(HANDLE file, const BYTE* data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

// What a file or folder that could not be made says of the machine: a full disk, or something else here.
int CreateFailure() {
    const DWORD error = ::GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? PK_DISK : PK_CREATE;
}

// Creates folder and every missing folder above it.
bool CreateFolderChain(std::wstring folder) {
    while (folder.size() > 1 && folder.back() == L'\\')
        folder.pop_back();
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t parent = folder.find_last_of(L'\\');
    if (parent != std::wstring::npos && parent > 0 && !CreateFolderChain(folder.substr(0, parent)))
        return false;
    return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// A file that did not exist is created as new, and only one in the way is emptied:
// truncating even an empty file makes ext4 under Wine write it out at its close.
// Others may read it, never write, rename or delete it, while this handle or one taken from it is open.
CFileHandle CreateTarget(const std::wstring& path) {
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    CFileHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file && ::GetLastError() == ERROR_FILE_EXISTS)
        file.reset(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    return file;
}

// The file that ServCallBk is being told of, for Wiz_TakeExtractedFile.
thread_local HANDLE g_reported = INVALID_HANDLE_VALUE;

// A raw deflate stream, ended with its owner.
struct CInflateStream {
    CInflateStream() : ready(inflateInit2(&stream, -MAX_WBITS) == Z_OK) {}
    ~CInflateStream() {
        if (ready)
            inflateEnd(&stream);
    }
    CInflateStream(const CInflateStream&) = delete;
    CInflateStream& operator=(const CInflateStream&) = delete;
    z_stream stream = {};
    bool ready;
};

class CExtraction {
public:
    CExtraction(const DCL& dcl, LPUSERFUNCTIONS functions) : m_dcl(dcl), m_functions(functions) {}

    int Run(int includeCount, char** includes, int excludeCount, char** excludes);

private:
    bool OpenTarget(std::string& reason);
    void ExtractMember(const CZipMember& member);
    // Writes the member's data into file; returns a result code and sets reason.
    int WriteData(const CZipMember& member, HANDLE file, std::string& reason);
    int WriteStored(const CZipMember& member, HANDLE file, uLong& crc, std::string& reason);
    int WriteInflated(const CZipMember& member, HANDLE file, uLong& crc, std::string& reason);
    // Creates the member's folder unless the member before it made the same one.
    bool MakeFolder(const std::wstring& folder);
    // Tells the caller's ServCallBk of a file written whole; false when it asked to stop.
    bool ReportExtracted(const CMemberPath& target, const CZipMember& member, HANDLE file);

    void Print(const std::string& text);
    void Info(const std::string& text) {
        if (m_dcl.fQuiet == 0)
            Print(text);
    }
    void Report(int result, const std::string& text) {
        m_result = std::max(m_result, result);
        if (m_dcl.fQuiet < 2)
            Print(text);
    }

    const DCL& m_dcl;
    LPUSERFUNCTIONS m_functions;
    CZipDirectory m_archive;
    std::wstring m_root;
    std::wstring m_lastFolder;
    // One inflater and one output buffer serve every member.
    CInflateStream m_inflater;
    std::vector<BYTE> m_chunk = std::vector<BYTE>(kOutputChunk);
    std::string m_printed;
    int m_result = PK_OK;
    bool m_stopped = false;
    // The files written so far, as the file system tells names apart: a second member of one of these names
    // would leave the file that the first one's caller holds with other contents.
    struct CNameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
    };
    std::set<std::wstring, CNameLess> m_written;
};

void CExtraction::Print(const std::string& text) {
    if (!m_functions || !m_functions->print)
        return;
    m_printed = text;  // the callback gets a buffer of its own to write into
    m_functions->print(&m_printed[0], static_cast<unsigned long>(text.size()));
}

int CExtraction::Run(int includeCount, char** includes, int excludeCount, char** excludes) {
    if (m_dcl.ncflag || m_dcl.ntflag || m_dcl.nvflag || m_dcl.nfflag || m_dcl.ExtractOnlyNewer || m_dcl.naflag ||
        m_dcl.SpaceToUnderscore || m_dcl.nZIflag) {
        Report(PK_PARAM, "error: this unzip32.dll extracts archives only; the options asked for are not supported");
        return m_result;
    }
    if (!m_dcl.lpszZipFN || !*m_dcl.lpszZipFN) {
        Report(PK_PARAM, "error: no archive given");
        return m_result;
    }
    std::string reason;
    if (strlen(m_dcl.lpszZipFN) >= MAX_PATH) {
        Report(PK_PARAM, "error: archive path of 260 bytes or more");
        return m_result;
    }
    int opened = m_archive.Open(m_dcl.lpszZipFN, reason);
    if (opened != PK_OK) {
        Report(opened, std::string("error [") + m_dcl.lpszZipFN + "]: " + reason);
        return m_result;
    }
    if (!OpenTarget(reason)) {
        Report(PK_CREATE, "error: " + reason);
        return m_result;
    }
    if (m_archive.ExtraLeadingBytes() > 0) {
        std::string count = std::to_string(m_archive.ExtraLeadingBytes());
        Report(PK_WARN, std::string("warning [") + m_dcl.lpszZipFN + "]:  " + count +
                            " extra bytes at beginning or within zipfile (attempting to process anyway)");
    }
    if (m_dcl.nzflag && !m_archive.Comment().empty())
        Info(m_archive.Comment());

    const std::vector<CZipMember>& members = m_archive.Members();
    if (m_functions) {
        unsigned long long size = 0, compressedSize = 0;
        for (const CZipMember& member : members) {
            size += member.size;
            compressedSize += member.compressedSize;
        }
        m_functions->NumMembers = static_cast<unsigned long>(members.size());
        m_functions->cchComment = static_cast<WORD>(m_archive.Comment().size());
        m_functions->TotalSize = static_cast<unsigned long>(size);
        m_functions->TotalSizeComp = static_cast<unsigned long>(compressedSize);
        m_functions->CompFactor =
            size > 0 && compressedSize <= size ? static_cast<unsigned long>(100 - compressedSize * 100 / size) : 0;
    }
    if (members.empty()) {
        Report(PK_WARN, std::string("warning [") + m_dcl.lpszZipFN + "]:  zipfile is empty");
        return m_result;
    }

    bool ignoreCase = m_dcl.C_flag != 0;
    int selected = 0;
    for (const CZipMember& member : members) {
        std::string name = MemberDisplayName(member);
        if (includeCount > 0 && !MatchesAny(includeCount, includes, name, ignoreCase))
            continue;
        if (MatchesAny(excludeCount, excludes, name, ignoreCase))
            continue;
        ++selected;
        ExtractMember(member);
        if (m_stopped)
            return m_result;
    }
    if (selected == 0)
        Report(PK_FIND, "caution: filename not matched");
    if (m_functions && m_functions->sound)
        m_functions->sound();
    return m_result;
}

bool CExtraction::OpenTarget(std::string& reason) {
    std::string target = m_dcl.lpszExtractDir && *m_dcl.lpszExtractDir ? m_dcl.lpszExtractDir : ".";
    std::wstring wide;
    if (target.size() >= MAX_PATH) {
        reason = "target folder path of 260 bytes or more";
        return false;
    }
    if (!AnsiToWide(target, wide)) {
        reason = "invalid target folder " + target;
        return false;
    }
    DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        reason = "invalid target folder " + target;
        return false;
    }
    m_root.assign(length, L'\0');
    m_root.resize(::GetFullPathNameW(wide.c_str(), length, &m_root[0], nullptr));
    if (m_root.empty() || m_root.back() != L'\\')
        m_root += L'\\';
    if (!CreateFolderChain(m_root)) {
        reason = "cannot create the target folder " + target;
        return false;
    }
    return true;
}

void CExtraction::ExtractMember(const CZipMember& member) {
    std::string name = MemberDisplayName(member);
    CMemberPath target;
    std::string reason;
    if (!ResolveMemberPath(member, m_root, m_dcl.ndflag != 0, target, reason)) {
        Report(target.bLocalLimit ? PK_CREATE : PK_ERR, "error: refused " + name + ": " + reason);
        return;
    }
    if (target.isFolder) {
        if (m_dcl.ndflag && !CreateFolderChain(target.path)) {
            const int failure = CreateFailure();
            Report(failure, "error: cannot create folder " + target.ansiPath);
        }
        return;
    }
    if (member.IsEncrypted()) {
        Report(PK_ERR, "skipping: " + name + "  encrypted members are not supported");
        return;
    }
    if (member.method != kStored && member.method != kDeflated) {
        Report(PK_ERR, "skipping: " + name + "  unsupported compression method " + std::to_string(member.method));
        return;
    }
    if (member.dataOffset == 0) {
        Report(PK_BADERR, "error: " + name + ": member data lies outside the archive (damaged or truncated)");
        return;
    }
    if (!m_written.insert(target.path).second) {
        Report(PK_ERR, "error: " + name + ": the archive holds this name twice");
        return;
    }
    if (!m_dcl.noflag && ::GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Info("skipping: " + target.ansiPath + "  (file exists)");
        return;
    }
    if (!MakeFolder(target.path.substr(0, target.path.find_last_of(L'\\')))) {
        const int failure = CreateFailure();
        Report(failure, "error: cannot create the folders of " + target.ansiPath);
        return;
    }

    Info("  inflating: " + target.ansiPath);
    int result;
    {
        CFileHandle file = CreateTarget(target.path);
        if (!file) {
            const int failure = CreateFailure();
            Report(failure, "error: cannot create " + target.ansiPath);
            return;
        }
        result = WriteData(member, file.get(), reason);
        FILETIME local, utc;
        if (result == PK_OK && ::DosDateTimeToFileTime(member.date, member.time, &local) &&
            ::LocalFileTimeToFileTime(&local, &utc))
            ::SetFileTime(file.get(), nullptr, nullptr, &utc);
        if (result == PK_OK && !ReportExtracted(target, member, file.get()))
            return;
    }
    if (result != PK_OK) {
        ::DeleteFileW(target.path.c_str());  // a damaged file is never left behind
        Report(result, "error: " + target.ansiPath + ": " + reason);
    }
}

bool CExtraction::ReportExtracted(const CMemberPath& target, const CZipMember& member, HANDLE file) {
    if (!m_functions || !m_functions->ServCallBk)
        return true;
    g_reported = file;
    const int stop = m_functions->ServCallBk(target.ansiPath.c_str(), static_cast<unsigned long>(member.size));
    g_reported = INVALID_HANDLE_VALUE;
    if (stop == 0)
        return true;
    m_stopped = true;
    Report(IZ_CTRLC, "stopped by the caller after " + target.ansiPath);
    return false;
}

bool CExtraction::MakeFolder(const std::wstring& folder) {
    if (folder == m_lastFolder)
        return true;
    if (!CreateFolderChain(folder))
        return false;
    m_lastFolder = folder;
    return true;
}

int CExtraction::WriteData(const CZipMember& member, HANDLE file, std::string& reason) {
    uLong crc = crc32(0, nullptr, 0);
    int result = member.method == kStored ? WriteStored(member, file, crc, reason)
                                          : WriteInflated(member, file, crc, reason);
    if (result == PK_OK && crc != member.crc) {
        char text[64];
        std::snprintf(text, sizeof(text), "bad CRC %08lx  (should be %08lx)", static_cast<unsigned long>(crc),
                      static_cast<unsigned long>(member.crc));
        reason = text;
        return PK_ERR;
    }
    return result;
}

int CExtraction::WriteStored(const CZipMember& member, HANDLE file, uLong& crc, std::string& reason) {
    if (member.compressedSize != member.size) {
        reason = "stored sizes disagree";
        return PK_ERR;
    }
    for (size_t done = 0, available = 0; done < member.size; done += available) {
        const BYTE* data = m_archive.ReadMemberData(member, done, available);
        if (!data) {
            reason = "cannot read the archive";
            return PK_BADERR;
        }
        crc = crc32(crc, data, static_cast<uInt>(available));
        if (!WriteAll(file, data, static_cast<DWORD>(available))) {
            reason = "write error (disk full?)";
            return PK_DISK;
        }
    }
    return PK_OK;
}

int CExtraction::WriteInflated(const CZipMember& member, HANDLE file, uLong& crc, std::string& reason) {
    z_stream& stream = m_inflater.stream;
    if (!m_inflater.ready || inflateReset(&stream) != Z_OK) {
        reason = "out of memory";
        return PK_MEM;
    }
    stream.avail_in = 0;  // what the last member left unread lies elsewhere
    size_t consumed = 0;  // of the member's data, handed to the inflater
    int status = Z_OK;
    // Counted in 64 bits: zlib's own total is 32 bits here and wraps.
    unsigned long long total = 0;
    while (status == Z_OK) {
        if (stream.avail_in == 0 && consumed < member.compressedSize) {
            size_t available = 0;
            const BYTE* data = m_archive.ReadMemberData(member, consumed, available);
            if (!data) {
                reason = "cannot read the archive";
                return PK_BADERR;
            }
            stream.next_in = const_cast<Bytef*>(data);
            stream.avail_in = static_cast<uInt>(available);
            consumed += available;
        }
        stream.next_out = m_chunk.data();
        stream.avail_out = kOutputChunk;
        status = inflate(&stream, Z_NO_FLUSH);
        DWORD produced = kOutputChunk - stream.avail_out;
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        total += produced;
        if (total > member.size) {  // never more on disk than the archive declares
            reason = "the data inflates beyond the member's declared size";
            return PK_ERR;
        }
        crc = crc32(crc, m_chunk.data(), produced);
        if (!WriteAll(file, m_chunk.data(), produced)) {
            reason = "write error (disk full?)";
            return PK_DISK;
        }
        if (status == Z_OK && stream.avail_in == 0 && consumed == member.compressedSize && produced == 0)
            status = Z_DATA_ERROR;  // the data ended before the stream did
    }
    if (status == Z_MEM_ERROR) {
        reason = "out of memory";
        return PK_MEM;
    }
    if (status != Z_STREAM_END || total != member.size) {
        reason = "invalid compressed data to inflate";
        return PK_ERR;
    }
    return PK_OK;
}
}  // namespace

extern "C" __declspec(dllexport) int WINAPI Wiz_SingleEntryUnzip(int ifnc, char** ifnv, int xfnc, char** xfnv,
                                                                  LPDCL lpDCL, LPUSERFUNCTIONS lpUserFunc) {
    if (!lpDCL)
        return PK_PARAM;
    // Nothing may be thrown back into the caller.
    try {
        CExtraction extraction(*lpDCL, lpUserFunc);
        return extraction.Run(ifnc, ifnv, xfnc, xfnv);
    } catch (const std::bad_alloc&) {
        return PK_MEM;
    } catch (...) {
        return PK_BADERR;
    }
}

extern "C" __declspec(dllexport) HANDLE WINAPI Wiz_TakeExtractedFile() {
    HANDLE taken = INVALID_HANDLE_VALUE;
    // A handle of the same open file keeps its sharing, reads only, once the DLL's own is closed.
    if (g_reported == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), g_reported, ::GetCurrentProcess(), &taken, FILE_GENERIC_READ, FALSE,
                           0))
        return INVALID_HANDLE_VALUE;
    return taken;
}

// Our unzip32.dll in this process, on archives written here byte by byte: sound ones, self-extracting
// ones (signed too), damaged and hostile ones, and a few hundred seeded bit flips and truncations of real ones.
#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <random>
#include <set>

#include "RixPath.h"
#include "RixUnZip32.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "ZynUpdateDlg.h"
#include "resource.h"

namespace {
using Files = std::map<std::string, std::string>;

struct Member {
    Member(std::string name, std::string content, bool deflate = true, WORD madeBy = 20, std::string extra = "",
           DWORD declaredSize = 0, int sharesOffsetOf = -1)
        : name(std::move(name)), content(std::move(content)), deflate(deflate), madeBy(madeBy),
          extra(std::move(extra)), declaredSize(declaredSize), sharesOffsetOf(sharesOffsetOf) {}
    std::string name, content;
    bool deflate;
    WORD madeBy;         // 20: MS-DOS host, 0x0314: Unix
    std::string extra;   // extra field of the central record
    DWORD declaredSize;  // 0: the content's size
    int sharesOffsetOf;  // the central record points at that member's local record
};

// Appends value as that many bytes, low byte first.
void Put(std::string& out, DWORD value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> 8 * i);
}

std::string Deflate(const std::string& data) {
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

DWORD Crc(const std::string& data) {
    return crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

// The archive behind prefix (an executable stub), its offsets counting the prefix as "zip -A" leaves them.
// countedEntries, when set, is what the end record claims.
std::string Zip(const std::vector<Member>& members, const std::string& prefix = "", int countedEntries = -1,
                const std::string& comment = "") {
    std::string zip = prefix, directory;
    std::vector<DWORD> offsets;
    for (const Member& m : members) {
        std::string data = m.deflate ? Deflate(m.content) : m.content, fields;
        for (unsigned value : {m.deflate ? 8u : 0u, 0x53C0u, 0x58B1u})  // method, 10:30 on 2024-05-17
            Put(fields, value, 2);
        Put(fields, Crc(m.content));
        Put(fields, static_cast<DWORD>(data.size()));
        Put(fields, m.declaredSize ? m.declaredSize : static_cast<DWORD>(m.content.size()));
        Put(fields, static_cast<unsigned>(m.name.size()), 2);
        offsets.push_back(m.sharesOffsetOf >= 0 ? offsets[m.sharesOffsetOf] : static_cast<DWORD>(zip.size()));
        if (m.sharesOffsetOf < 0) {
            Put(zip, 0x04034b50);
            Put(zip, 20);  // version needed, flags
            zip += fields + std::string(2, '\0') + m.name + data;
        }
        Put(directory, 0x02014b50);
        Put(directory, m.madeBy, 2);
        Put(directory, 20);
        directory += fields;
        Put(directory, static_cast<unsigned>(m.extra.size()), 2);
        directory += std::string(10, '\0');  // comment length, disk, attributes
        Put(directory, offsets.back());
        directory += m.name + m.extra;
    }
    unsigned entries = countedEntries >= 0 ? countedEntries : static_cast<unsigned>(members.size());
    std::string end;
    Put(end, 0x06054b50);
    Put(end, 0);  // this disk, and the one the directory starts on
    Put(end, entries, 2);
    Put(end, entries, 2);
    Put(end, static_cast<DWORD>(directory.size()));
    Put(end, static_cast<DWORD>(zip.size()));
    Put(end, static_cast<unsigned>(comment.size()), 2);
    return zip + directory + end + comment;
}

// The Unicode Path field: version 1, the CRC of the stored name, the UTF-8 name.
std::string UnicodePath(const std::string& storedName, const std::string& utf8Name) {
    std::string field;
    Put(field, 0x7075, 2);
    Put(field, static_cast<unsigned>(5 + utf8Name.size()), 2);
    field += '\1';
    Put(field, Crc(storedName));
    return field + utf8Name;
}

// Flips the byte at offset behind the first local record of name: its data, as no extra field is written.
std::string Damaged(std::string zip, const std::string& name, size_t offset) {
    zip[zip.find(name) + name.size() + offset] ^= 0x55;
    return zip;
}

const std::string kTable = "\xE8\xA1\xA8";  // 表 in UTF-8
// A stub with zip signatures in it: the archive must be found from its end, not its front.
const std::string kStub = "MZ" + std::string(30, '\0') + "PK\x03\x04PK\x01\x02PK\x05\x06" + std::string(3000, 'S');
// A stub with a PE header (PE32+, 16 data directories) and zip signatures after it.
const std::string kPeStub = [] {
    std::string stub = "MZ" + std::string(58, '\0'), header = "PE" + std::string(2, '\0');
    Put(stub, 0x40);
    Put(header, 0x8664, 2);  // machine
    header += std::string(14, '\0');
    Put(header, 240, 2);  // size of the optional header
    Put(header, 0x22, 2);
    Put(header, 0x20B, 2);  // PE32+
    header += std::string(106, '\0');
    Put(header, 16);  // data directories
    return stub + header + std::string(128, '\0') + kStub.substr(2);
}();
const size_t kSecurityDirectoryAt = 0x40 + 4 + 20 + 112 + 4 * 8;

// Authenticode-signed as signing tools do it: the zip padded with zeros (padding) to 8 bytes, then the certificate
// table of those lengths, each entry aligned to 8; the stub's security directory names the table (sizeDelta off its
// true size), its first entry is lengthDelta off its true length.
std::string Signed(std::string archive, std::vector<DWORD> lengths = {1456}, char padding = '\0', int sizeDelta = 0,
                   int lengthDelta = 0) {
    archive.append((8 - archive.size() % 8) % 8, padding);
    size_t table = archive.size();
    for (DWORD length : lengths) {
        std::string certificate;
        Put(certificate, length + (archive.size() == table ? lengthDelta : 0));
        Put(certificate, 0x00020200);  // revision 2.0, PKCS #7
        certificate.resize(length, 'c');
        archive += certificate + std::string((8 - length % 8) % 8, '\0');
    }
    std::string directory;
    Put(directory, static_cast<DWORD>(table));
    Put(directory, static_cast<DWORD>(archive.size() - table + sizeDelta));
    return archive.replace(kSecurityDirectoryAt, 8, directory);
}

const std::vector<Member> kMembers = {{"CAD/Ver3.5", "ravaZAZ (No.3)\r\n", false},
                                      {"CAD/bin/a.dll", std::string(3000, 'a') + "tail"},
                                      {"CAD/" + kTable + "/b.txt", "b", true, 0x0314},
                                      {"c.txt", "see"}};
std::string g_printed;  // every text the DLL printed, one per line

int WINAPI RecordPrint(LPSTR text, unsigned long length) {
    g_printed.append(text, length) += '\n';
    return static_cast<int>(length);
}

int Unzip(const std::string& target, const std::string& archive, const std::string& dllFolder = BuildFolder()) {
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = dllFolder;
    g_printed.clear();
    bool ok = unzip.Unzip(target, archive, RecordPrint, nullptr);
    EXPECT_EQ(ok, unzip.GetResult() == PK_OK);
    return unzip.GetResult();
}

// Unzips archive into <scratch>a\b\target\ and returns the result; left gets every file the run left anywhere in
// the scratch folder, named relative to the target, or marked "outside:" where it does not lie there.
int UnzipInScratch(const std::string& scratch, const std::string& archive, Files& left) {
    RixDeleteFolder(scratch + "a");
    WriteBytes(scratch + "archive.zip", archive);
    int result = Unzip(scratch + "a\\b\\target", scratch + "archive.zip");
    CFindDataList found;
    RixFindFiles(scratch, "*", found, TRUE);
    left.clear();
    for (const WIN32_FIND_DATAA& file : found) {
        std::string name = std::string(file.cFileName).substr(scratch.size());
        left[name.rfind("a\\b\\target\\", 0) == 0 ? name.substr(11) : "outside:" + name] = ReadBytes(file.cFileName);
    }
    left.erase("outside:archive.zip");
    return result;
}
}  // namespace

// Each row: an archive, the DLL's result, the files it leaves, texts it prints; Extract() on the same archive
// fails when the result is an error, however many files were written, and when nothing was extracted.
TEST(UnzipDll, ResultsFilesAndRefusals) {
    const std::string scratch = ScratchFolder("unzip"), sound = Zip(kMembers);
    const Files all = {{"CAD\\Ver3.5", "ravaZAZ (No.3)\r\n"}, {"CAD\\bin\\a.dll", kMembers[1].content},
                       {"CAD\\表\\b.txt", "b"}, {"c.txt", "see"}};
    std::vector<Member> climbing = {{"ok.txt", "ok"}, {"sub/also_ok.txt", "also"}};
    const std::vector<std::string> refused = {
        "../e1", "sub/../../e2", "..\\e3", "/e4", "\\e5", "C:/e6", "D:e7", "sub/.. /e8", "CAD/.../.../e9", "...\\e10",
        "CAD/. ./e11"};
    for (const std::string& name : refused)
        climbing.emplace_back(name, "evil");
    const std::vector<Member> damaged = {{"good.txt", "good", false}, {"bad.txt", "loses one byte", false},
                                         {"broken.bin", std::string(5000, 'b') + "end"}, {"later.txt", "later"}};
    // Larger than the DLL's read window: a deflated member larger than it, members across its edges, and a central
    // directory that spans more than one window through its extra fields, their names at the end of each.
    std::mt19937 random(7);
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::vector<Member> wide = {{"big.bin", noise}};
    Files wideLeft = {{"big.bin", noise}};
    const std::string padding = std::string("\xFE\xCA\x60\xEA", 4) + std::string(60000, 'x');  // an unknown field
    for (int i = 0; i < 6; ++i) {
        std::string name = "part" + std::to_string(i);
        wide.emplace_back(name, noise.substr(i * 40000, 90001), i % 2 == 1, 20,
                          padding + UnicodePath(name, name + kTable));
        wideLeft[name + "表"] = wide.back().content;
    }
    const std::string signedStub = Zip(kMembers, kPeStub);
    // Ends 5 bytes past a multiple of 8, so that signing pads it.
    const std::string unaligned = Zip(kMembers, kPeStub, -1, std::string((13 - signedStub.size() % 8) % 8, 'c'));
    const struct {
        const char* what;
        std::string archive;
        int result;
        Files left;
        std::vector<std::string> printed;
    } cases[] = {
        {"sound", sound, PK_OK, all, {"  inflating: " + scratch + "a\\b\\target\\CAD\\bin\\a.dll"}},
        {"offsets that count the stub", Zip(kMembers, kStub), PK_OK, all, {}},
        {"offsets that do not", kStub + sound, PK_WARN, all, {std::to_string(kStub.size()) + " extra bytes at beginning"}},
        {"climbing, drive and long paths", Zip(climbing), PK_ERR, {{"ok.txt", "ok"}, {"sub\\also_ok.txt", "also"}},
         {"refused ../e1", "refused D:e7", "refused CAD/.../.../e9", "refused ...\\e10"}},
        {"damaged members", Damaged(Damaged(Zip(damaged), "bad.txt", 5), "broken.bin", 3), PK_ERR,
         {{"good.txt", "good"}, {"later.txt", "later"}}, {"bad.txt: bad CRC", "broken.bin: invalid compressed data"}},
        {"member inflates beyond its size", Zip({{"big", std::string(100000, 'z'), true, 20, "", 1000}, {"ok", "ok"}}),
         PK_ERR, {{"ok", "ok"}}, {"big: the data inflates beyond the member's declared size"}},
        {"overlapping members", Zip({{"one", "same"}, {"two", "same", true, 20, "", 0, 0}}), PK_BOMB, {}, {}},
        {"a name twice, in another case too: refused, the first stays", Zip({{"twice", "first"}, {"TWICE", "2nd"}}),
         PK_ERR, {{"twice", "first"}}, {"TWICE: the archive holds this name twice"}},
        {"end record counts too few", Zip({{"one", "1"}, {"two", "2"}}, "", 1), PK_BADERR, {}, {}},
        {"end signature in the comment", Zip({{"ok", "ok"}}, "", -1, "PK\x05\x06 not the end"), PK_OK, {{"ok", "ok"}}, {}},
        {"UTF-8 only from Linux", Zip({{"CAD/" + kTable + ".txt", "t", true, 0x0314}, {"dos" + kTable, "d"}}), PK_OK,
         {{"CAD\\表.txt", "t"}, {"dos陦ｨ", "d"}}, {}},
        {"Unicode Path field", Zip({{"u.txt", "u", true, 20, UnicodePath("u.txt", kTable + ".txt")},
                                    {"v.txt", "v", true, 20, UnicodePath("other", kTable + "2.txt")}}),
         PK_OK, {{"表.txt", "u"}, {"v.txt", "v"}}, {}},
        {"larger than the read window", Zip(wide, kStub), PK_OK, wideLeft, {}},
        {"empty", Zip({}), PK_WARN, {}, {"zipfile is empty"}},
        {"truncated", sound.substr(0, sound.size() * 2 / 3), PK_NOZIP, {}, {}},
        {"no archive", kStub, PK_NOZIP, {}, {}},
        {"signed stub", Signed(signedStub), PK_OK, all, {}},
        {"signed, padded, two certificates", Signed(unaligned, {13, 24}), PK_OK, all, {}},
        {"bytes after the zip", Zip(kMembers, kPeStub) + "junk", PK_NOZIP, {}, {}},
        {"bytes after the certificates", Signed(signedStub) + "x", PK_NOZIP, {}, {}},
        {"padding that is not zeros", Signed(unaligned, {1456}, 'p'), PK_NOZIP, {}, {}},
        {"table shorter than named", Signed(signedStub, {1456}, '\0', 8), PK_NOZIP, {}, {}},
        {"certificate beyond its table", Signed(signedStub, {1456, 16}, '\0', 0, 24), PK_NOZIP, {}, {}},
    };
    CMessageBoxRecorder boxes;
    ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));  // where Extract() finds the DLL
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_DIALOG, nullptr);
    dlg.m_strWorkDir = ScratchFolder("unzip_work");
    dlg.m_strUpdateFile = scratch + "archive.zip";
    for (const auto& c : cases) {
        Files left;
        EXPECT_EQ(UnzipInScratch(scratch, c.archive, left), c.result) << c.what;
        EXPECT_EQ(left, c.left) << c.what;
        for (const std::string& text : c.printed)
            EXPECT_NE(g_printed.find(text), std::string::npos) << c.what << ": " << text << " in " << g_printed;
        boxes.Clear();
        bool extracted = c.result < PK_ERR && !c.left.empty();
        EXPECT_EQ(dlg.Extract(), extracted ? 1 : 0) << c.what;
        EXPECT_EQ(boxes.Texts(), extracted ? std::vector<std::string>{}
                                           : std::vector<std::string>{"展開された更新ﾌｧｲﾙを取得できませんでした"})
            << c.what;
        EXPECT_EQ(dlg.m_bArchiveAtFault, !extracted) << c.what;  // every failure here is the archive's
    }
    EXPECT_EQ(Unzip(scratch + "none", scratch + "missing.zip"), PK_NOZIP);
}

// Paths of 260 bytes or more: members are refused as too long for this folder, not as bad names, and the binding
// takes no archive or target path that long and never calls the DLL, nor one without the entry point. Neither
// blames the archive.
TEST(UnzipDll, LongPathsAndAMissingEntryPoint) {
    const std::string scratch = ScratchFolder("unzip_long");
    const std::string target = scratch + std::string(244 - scratch.size(), 'x') + "\\", archive = scratch + "a.zip";
    WriteBytes(archive, Zip({{"CAD/Ver3.5", "255 bytes"}, {"CAD/sub/deeper/zero.txt", ""}}));
    EXPECT_EQ(Unzip(target, archive), PK_CREATE);
    EXPECT_EQ(ReadBytes(target + "CAD\\Ver3.5"), "255 bytes");
    EXPECT_FALSE(Exists(target + "CAD\\sub\\deeper\\zero.txt"));
    EXPECT_NE(g_printed.find("CAD/sub/deeper/zero.txt: path of 260 bytes or more"), std::string::npos);
    CMessageBoxRecorder boxes;
    EXPECT_EQ(Unzip(scratch, scratch + std::string(260, 'a') + ".zip"), CRixUnZip32::kNotCalled);
    EXPECT_EQ(Unzip(scratch + std::string(260, 'b'), archive), CRixUnZip32::kNotCalled);
    EXPECT_TRUE(boxes.Shown().empty());
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "tools\\holdfile.exe").c_str(), (scratch + "unzip32.dll").c_str(), FALSE));
    EXPECT_EQ(Unzip(scratch + "target", archive, scratch), CRixUnZip32::kNotCalled);  // a program, not the DLL
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"zip解凍用DLL[" + scratch + "unzip32.dll]を読み込みできませんでした"});
    EXPECT_EQ(boxes.Shown()[0].caption, AfxGetApp()->m_pszAppName);
    EXPECT_FALSE(Exists(scratch + "target"));
    CZynUpdateDlg dlg(IDD_ZYNUPDATE_DIALOG, nullptr);
    for (const std::string& work : {target, scratch + "w\\"}) {  // too long a work folder, then no DLL to load
        ASSERT_TRUE(::SetDllDirectoryA(work == target ? BuildFolder().c_str() : scratch.c_str()));
        dlg.m_strWorkDir = work;
        dlg.m_strUpdateFile = archive;
        EXPECT_EQ(dlg.Extract(), 0);
        EXPECT_FALSE(dlg.m_bArchiveAtFault);
    }
    ASSERT_TRUE(::SetDllDirectoryA(BuildFolder().c_str()));
    // Without a print callback the texts go to the message target, which is let go afterwards.
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = BuildFolder();
    ASSERT_TRUE(WriteBytes(scratch + "messages.txt", ""));
    EXPECT_TRUE(unzip.Unzip(scratch + "t", archive, nullptr, (scratch + "messages.txt").c_str()));
    EXPECT_NE(ReadBytes(scratch + "messages.txt").find("inflating: " + scratch + "t\\CAD\\Ver3.5"), std::string::npos);
    EXPECT_TRUE(::DeleteFileA((scratch + "messages.txt").c_str()));
}

// Seeded damage to sound archives: whatever the DLL makes of them, it ends, writes only below its target, and
// leaves no file that is not one of the members' true contents.
TEST(UnzipDll, DamagedArchivesNeverEscapeOrLeaveBadData) {
    const std::string scratch = ScratchFolder("unzip_fuzz");
    std::set<std::string> contents;
    for (const Member& m : kMembers)
        contents.insert(m.content);
    const std::string bases[] = {Zip(kMembers), Zip(kMembers, kStub), Signed(Zip(kMembers, kPeStub))};
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        std::string archive = bases[round % 3];
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            archive[random() % archive.size()] ^= static_cast<char>(1 << random() % 8);
        if (round % 5 == 0)
            archive.resize(random() % archive.size());
        Files left;
        UnzipInScratch(scratch, archive, left);
        for (const auto& file : left) {
            EXPECT_NE(file.first.rfind("outside:", 0), 0u) << "round " << round << ": " << file.first;
            EXPECT_TRUE(contents.count(file.second)) << "round " << round << ": " << file.first;
        }
    }
}

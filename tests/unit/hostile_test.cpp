// Hostile archives through our unzip32.dll, in this process: crafted members that try to
// climb out, lie about their size, overlap or hide behind the end record, names from
// Linux, and a few hundred seeded bit flips and truncations of real archives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <set>

#include "RixPath.h"
#include "RixUnZip32.h"
#include "TestSupport.h"

namespace {
struct Member {
    Member(std::string name, std::string content, WORD madeBy = 20, std::string extra = "", DWORD declaredSize = 0,
           int sharesOffsetOf = -1)
        : name(std::move(name)), content(std::move(content)), madeBy(madeBy), extra(std::move(extra)),
          declaredSize(declaredSize), sharesOffsetOf(sharesOffsetOf) {}
    std::string name, content;
    WORD madeBy;         // 20: MS-DOS host, 0x0314: Unix
    std::string extra;   // extra field of the central record
    DWORD declaredSize;  // 0: the content's size
    int sharesOffsetOf;  // the central record points at that member's local record
};

void Put16(std::string& out, unsigned value) { out += {char(value), char(value >> 8)}; }
void Put32(std::string& out, DWORD value) { Put16(out, value & 0xFFFF), Put16(out, value >> 16); }

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

// A zip of deflated members. countedEntries, when set, is what the end record claims.
std::string Zip(const std::vector<Member>& members, int countedEntries = -1, const std::string& comment = "") {
    std::string zip, directory;
    std::vector<DWORD> offsets;
    for (const Member& m : members) {
        std::string data = Deflate(m.content), fields;
        Put16(fields, 8), Put16(fields, 0), Put16(fields, 0), Put32(fields, Crc(m.content));
        Put32(fields, static_cast<DWORD>(data.size()));
        Put32(fields, m.declaredSize ? m.declaredSize : static_cast<DWORD>(m.content.size()));
        Put16(fields, static_cast<unsigned>(m.name.size()));
        offsets.push_back(m.sharesOffsetOf >= 0 ? offsets[m.sharesOffsetOf] : static_cast<DWORD>(zip.size()));
        if (m.sharesOffsetOf < 0) {
            Put32(zip, 0x04034b50), Put16(zip, 20), Put16(zip, 0);
            zip += fields, Put16(zip, 0), zip += m.name + data;
        }
        Put32(directory, 0x02014b50), Put16(directory, m.madeBy), Put16(directory, 20), Put16(directory, 0);
        directory += fields, Put16(directory, static_cast<unsigned>(m.extra.size()));
        Put16(directory, 0), Put32(directory, 0), Put32(directory, 0);  // comment, disk, attributes
        Put32(directory, offsets.back());
        directory += m.name + m.extra;
    }
    unsigned entries = countedEntries >= 0 ? countedEntries : static_cast<unsigned>(members.size());
    std::string end;
    Put32(end, 0x06054b50), Put32(end, 0), Put16(end, entries), Put16(end, entries);
    Put32(end, static_cast<DWORD>(directory.size())), Put32(end, static_cast<DWORD>(zip.size()));
    Put16(end, static_cast<unsigned>(comment.size()));
    return zip + directory + end + comment;
}

// The Unicode Path field: version 1, the CRC of the stored name, the UTF-8 name.
std::string UnicodePath(const std::string& storedName, const std::string& utf8Name) {
    std::string field;
    Put16(field, 0x7075), Put16(field, static_cast<unsigned>(5 + utf8Name.size()));
    field += '\1', Put32(field, Crc(storedName));
    return field + utf8Name;
}

const std::string kTable = "\xE8\xA1\xA8";  // 表 in UTF-8

std::string g_printed;

int WINAPI RecordPrint(LPSTR text, unsigned long length) {
    g_printed.append(text, length) += '\n';
    return static_cast<int>(length);
}

// Unzips archive into <scratch>\a\b\target\ and returns the DLL's result; every file that
// the run left anywhere in the scratch folder is listed in left, relative to it.
int Unzip(const std::string& scratch, const std::string& archive, std::map<std::string, std::string>& left) {
    RixDeleteFolder(scratch + "a");
    WriteBytes(scratch + "archive.zip", archive);
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = BuildFolder();
    g_printed.clear();
    unzip.Unzip(scratch + "a\\b\\target", scratch + "archive.zip", RecordPrint, nullptr);
    CFindDataList found;
    RixFindFiles(scratch, "*", found, TRUE);
    left.clear();
    for (const WIN32_FIND_DATAA& file : found)
        left[std::string(file.cFileName).substr(scratch.size())] = ReadBytes(file.cFileName);
    left.erase("archive.zip");
    return unzip.GetResult();
}
}  // namespace

TEST(HostileArchive, CraftedMembersAreRefusedAndNothingLandsOutside) {
    const std::string scratch = ScratchFolder("hostile");
    const std::string big(100000, 'z');
    const struct {
        const char* what;
        std::string archive;
        int result;
        std::map<std::string, std::string> left;
        const char* printed = "";
    } cases[] = {
        {"dots climb", Zip({{"CAD/.../.../x", "x"}, {"...\\y", "y"}, {"CAD/. ./z", "z"}, {"CAD/ok", "ok"}}), PK_ERR,
         {{"a\\b\\target\\CAD\\ok", "ok"}}},
        {"member inflates beyond its size", Zip({{"big", big, 20, "", 1000}, {"ok", "ok"}}), PK_ERR,
         {{"a\\b\\target\\ok", "ok"}}, "big: the data inflates beyond the member's declared size"},
        {"overlapping members", Zip({{"one", "same"}, {"two", "same", 20, "", 0, 0}}), PK_BOMB, {}},
        {"end record counts too few", Zip({{"one", "1"}, {"two", "2"}}, 1), PK_BADERR, {}},
        {"end signature in the comment", Zip({{"ok", "ok"}}, -1, "PK\x05\x06 not the end"), PK_OK,
         {{"a\\b\\target\\ok", "ok"}}},
        {"UTF-8 from Linux", Zip({{"CAD/" + kTable + ".txt", "t", 0x0314}, {"dos" + kTable, "d"}}), PK_OK,
         {{"a\\b\\target\\CAD\\表.txt", "t"}, {"a\\b\\target\\dos陦ｨ", "d"}}},
        {"Unicode Path field", Zip({{"u.txt", "u", 20, UnicodePath("u.txt", kTable + ".txt")},
                                    {"v.txt", "v", 20, UnicodePath("other", kTable + "2.txt")}}),
         PK_OK, {{"a\\b\\target\\表.txt", "u"}, {"a\\b\\target\\v.txt", "v"}}},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> left;
        EXPECT_EQ(Unzip(scratch, c.archive, left), c.result) << c.what;
        EXPECT_EQ(left, c.left) << c.what;
        EXPECT_NE(g_printed.find(c.printed), std::string::npos) << c.what << ": " << g_printed;
    }
}

// Seeded damage to real archives: whatever the DLL makes of them, it ends, writes only
// below its target, and leaves no file that is not one of the members' true contents.
TEST(HostileArchive, DamagedArchivesNeverEscapeOrLeaveBadData) {
    const std::string scratch = ScratchFolder("hostile_fuzz");
    const std::vector<Member> members = {{"CAD/Ver3.5", "ravaZAZ (No.3)\r\n"},
                                         {"CAD/bin/a.dll", std::string(3000, 'a') + "tail"},
                                         {"CAD/" + kTable + "/b.txt", "b", 0x0314},
                                         {"c.txt", "see"}};
    std::set<std::string> contents;
    for (const Member& m : members)
        contents.insert(m.content);
    const std::string bases[] = {Zip(members), std::string(512, 'M') + Zip(members)};
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        std::string archive = bases[round % 2];
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            archive[random() % archive.size()] ^= static_cast<char>(1 << random() % 8);
        if (round % 3 == 0)
            archive.resize(random() % archive.size());
        std::map<std::string, std::string> left;
        Unzip(scratch, archive, left);
        for (const auto& file : left) {
            EXPECT_EQ(file.first.rfind("a\\b\\target\\", 0), 0u) << "round " << round << ": " << file.first;
            EXPECT_TRUE(contents.count(file.second)) << "round " << round << ": " << file.first;
        }
    }
}

// Our unzip32.dll through the binding class, on the archives that tests/make_archives.py
// writes into the build folder.
#include <gtest/gtest.h>

#include <cstring>

#include "Format.h"
#include "RixPath.h"
#include "RixUnZip32.h"
#include "TestSupport.h"

namespace {
// The files of update.zip, relative to the target folder, in archive order.
// "表示" has a UTF-8 name, "ソフト" one in code page 932.
const std::vector<std::string> kUpdateFiles = {
    "CAD\\Ver3.5",
    "CAD\\ZynCad.exe",
    "CAD\\sub\\a.dll",
    "CAD\\sub\\deeper\\b.txt",
    "CAD\\sub\\deeper\\zero.txt",
    "CAD\\表示\\表.txt",
    "CAD\\stored.bin",
    "CAD\\ソフト\\表.dll",
};

std::string Archive(const std::string& name) { return BuildFolder() + "archives\\" + name; }

std::vector<std::string> g_printed;

int WINAPI RecordPrint(LPSTR text, unsigned long length) {
    EXPECT_EQ(std::strlen(text), length);
    g_printed.emplace_back(text, length);
    return static_cast<int>(length);
}

// Runs the binding on our DLL in the build folder and returns the DLL's result code.
int UnzipWithOurDll(const std::string& target, const std::string& archive) {
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = BuildFolder();
    g_printed.clear();
    bool ok = unzip.Unzip(target, archive, RecordPrint, nullptr);
    EXPECT_EQ(ok, unzip.GetResult() == PK_OK);
    return unzip.GetResult();
}

int CountFiles(const std::string& folder) {
    CFindDataList found;
    return RixFindFiles(folder, "*.*", found, TRUE);
}

bool AnyPrinted(const std::string& part) {
    for (const std::string& text : g_printed)
        if (text.find(part) != std::string::npos)
            return true;
    return false;
}

void ExpectUpdateFilesIn(const std::string& target) {
    for (const std::string& file : kUpdateFiles)
        EXPECT_TRUE(ReadBytes(target + file) == ReadBytes(Archive("expected\\" + file))) << file;
    EXPECT_EQ(CountFiles(target), static_cast<int>(kUpdateFiles.size()));
}
}  // namespace

TEST(UnzipDll, ExtractsStoredAndDeflatedMembersIntoTheirFoldersOverwritingOldFiles) {
    std::string target = ScratchFolder("unzip_plain");
    ASSERT_TRUE(RixMakeFolder(target + "CAD"));
    ASSERT_TRUE(WriteBytes(target + "CAD\\Ver3.5", "an older and much longer Ver file that must be replaced whole"));

    EXPECT_EQ(UnzipWithOurDll(target, Archive("update.zip")), PK_OK);

    ExpectUpdateFilesIn(target);
    DWORD attributes = ::GetFileAttributesA((target + "CAD\\empty").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    std::vector<std::string> expected;
    for (const std::string& file : kUpdateFiles)
        expected.push_back("  inflating: " + target + file);
    EXPECT_EQ(g_printed, expected);

    // The stored time, 2024-05-17 10:30 local time, is the file's write time.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExA((target + "CAD\\sub\\a.dll").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME t;
    ASSERT_TRUE(::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && ::FileTimeToSystemTime(&local, &t));
    EXPECT_EQ(StrFormat("%04d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute), "2024-05-17 10:30");
}

TEST(UnzipDll, ReadsSelfExtractingArchivesWithAndWithoutAdjustedOffsets) {
    std::string adjusted = ScratchFolder("unzip_sfx");
    EXPECT_EQ(UnzipWithOurDll(adjusted, Archive("update_sfx.exe")), PK_OK);
    ExpectUpdateFilesIn(adjusted);

    // Offsets that do not count the stub work too, with Info-ZIP's warning.
    std::string unadjusted = ScratchFolder("unzip_sfx_unadjusted");
    EXPECT_EQ(UnzipWithOurDll(unadjusted, Archive("update_sfx_unadjusted.exe")), PK_WARN);
    ExpectUpdateFilesIn(unadjusted);
    EXPECT_TRUE(AnyPrinted("extra bytes at beginning"));
}

TEST(UnzipDll, DamagedMembersGiveAnErrorAndAreNotLeftBehind) {
    std::string target = ScratchFolder("unzip_damaged");
    EXPECT_EQ(UnzipWithOurDll(target, Archive("damaged.zip")), PK_ERR);

    EXPECT_EQ(ReadBytes(target + "good.txt"), "good\r\n");
    EXPECT_EQ(ReadBytes(target + "later.txt"), "later\r\n");
    EXPECT_FALSE(Exists(target + "bad.txt"));
    EXPECT_FALSE(Exists(target + "broken.bin"));
    EXPECT_TRUE(AnyPrinted("bad.txt: bad CRC"));
    EXPECT_TRUE(AnyPrinted("broken.bin: invalid compressed data"));
}

TEST(UnzipDll, ArchivesThatCannotBeReadWriteNothing) {
    std::string target = ScratchFolder("unzip_unreadable");
    for (const char* name : {"truncated.zip", "notazip.exe", "missing.zip"})
        EXPECT_EQ(UnzipWithOurDll(target + name, Archive(name)), PK_NOZIP) << name;
    EXPECT_EQ(UnzipWithOurDll(target + "e", Archive("empty.zip")), PK_WARN);
    EXPECT_TRUE(AnyPrinted("zipfile is empty"));
    EXPECT_EQ(CountFiles(target), 0);
}

TEST(UnzipDll, RefusesMembersThatWouldLandOutsideTheTargetFolder) {
    std::string outer = ScratchFolder("unzip_slip");
    std::string target = outer + "target\\";
    const std::vector<std::string> outside = {outer + "evil1.txt", outer + "evil2.txt", outer + "evil3.txt",
                                              "D:\\evil4.txt",     "Z:\\evil4.txt",     "D:\\evil5.txt",
                                              "Z:\\evil5.txt",     "C:\\evil6.txt",     "D:\\evil7.txt"};

    EXPECT_EQ(UnzipWithOurDll(target, Archive("slip.zip")), PK_ERR);

    EXPECT_EQ(ReadBytes(target + "ok.txt"), "ok\r\n");
    EXPECT_EQ(ReadBytes(target + "sub\\also_ok.txt"), "also ok\r\n");
    for (const std::string& path : outside)
        EXPECT_FALSE(Exists(path)) << path;
    CFindDataList found;
    RixFindFiles(outer, "*.*", found, TRUE);
    for (const WIN32_FIND_DATAA& file : found)
        EXPECT_EQ(std::string(file.cFileName).compare(0, target.size(), target), 0) << file.cFileName;
    for (const char* name : {"../evil1.txt", "sub/../../evil2.txt", "..\\evil3.txt", "/evil4.txt", "\\evil5.txt",
                             "C:/evil6.txt", "D:evil7.txt", "long/nnnn"})
        EXPECT_TRUE(AnyPrinted(std::string("error: refused ") + name)) << name;
}

TEST(UnzipDll, RefusesPathsOf260BytesOrMore) {
    // Members whose full path reaches MAX_PATH are refused, the others extracted.
    std::string scratch = ScratchFolder("unzip_long");
    std::string target = scratch + std::string(244 - scratch.size(), 'x') + "\\";
    ASSERT_EQ(target.size(), 245u);
    EXPECT_EQ(UnzipWithOurDll(target, Archive("update.zip")), PK_ERR);
    EXPECT_TRUE(Exists(target + "CAD\\Ver3.5"));  // 255 bytes
    EXPECT_FALSE(Exists(target + "CAD\\sub\\deeper\\zero.txt"));
    EXPECT_TRUE(AnyPrinted("CAD/sub/deeper/zero.txt: path of 260 bytes or more"));

    // The binding itself takes no archive or target path that long, and never calls the DLL.
    CMessageBoxRecorder boxes;
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = BuildFolder();
    EXPECT_FALSE(unzip.Unzip(scratch, scratch + std::string(260, 'a') + ".zip", RecordPrint, nullptr));
    EXPECT_EQ(unzip.GetResult(), CRixUnZip32::kNotCalled);
    EXPECT_FALSE(unzip.Unzip(scratch + std::string(260, 'b'), Archive("update.zip"), RecordPrint, nullptr));
    EXPECT_EQ(unzip.GetResult(), CRixUnZip32::kNotCalled);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST(UnzipBinding, ADllWithoutTheEntryPointCountsAsNotLoadable) {
    // Any loadable module without Wiz_SingleEntryUnzip: one of the test tools.
    std::string folder = ScratchFolder("unzip_noentry");
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "tools\\holdfile.exe").c_str(), (folder + "unzip32.dll").c_str(), FALSE));
    HMODULE loadable = ::LoadLibraryA((folder + "unzip32.dll").c_str());
    ASSERT_NE(loadable, nullptr);
    ::FreeLibrary(loadable);

    CMessageBoxRecorder boxes;
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = folder;
    EXPECT_FALSE(unzip.Unzip(folder + "target", Archive("update.zip"), RecordPrint, nullptr));
    EXPECT_EQ(unzip.GetResult(), CRixUnZip32::kNotCalled);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "zip解凍用DLL[" + folder + "unzip32.dll]を読み込みできませんでした");
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_FALSE(Exists(folder + "target"));
}

TEST(UnzipBinding, DefaultPrintCallbackWritesEachTextToTheMessageTarget) {
    std::string target = ScratchFolder("unzip_target");
    std::string log = target + "messages.log";
    ASSERT_TRUE(WriteBytes(log, ""));
    CRixUnZip32 unzip;
    unzip.m_strDllFolder = BuildFolder();
    EXPECT_TRUE(unzip.Unzip(target + "out", Archive("update.zip"), nullptr, log.c_str()));

    std::string expected;
    for (const std::string& file : kUpdateFiles)
        expected += "  inflating: " + target + "out\\" + file + '\0';
    EXPECT_EQ(ReadBytes(log), expected);
}

TEST(UnzipDll, IncludeAndExcludeListsChooseTheMembers) {
    CModuleHandle dll(::LoadLibraryA((BuildFolder() + "unzip32.dll").c_str()));
    ASSERT_TRUE(dll);
    auto unzip = reinterpret_cast<WizSingleEntryUnzipProc>(
        reinterpret_cast<void*>(::GetProcAddress(dll.get(), "Wiz_SingleEntryUnzip")));
    ASSERT_NE(unzip, nullptr);
    std::string target = ScratchFolder("unzip_lists");
    std::string archive = Archive("update.zip");
    DCL dcl = {};
    dcl.ndflag = 1;
    dcl.noflag = 1;
    dcl.lpszZipFN = &archive[0];
    dcl.lpszExtractDir = &target[0];
    USERFUNCTIONS functions = {};
    functions.print = RecordPrint;
    char include[] = "CAD/sub/*";
    char exclude[] = "*.txt";
    char* includes[] = {include};
    char* excludes[] = {exclude};

    EXPECT_EQ(unzip(1, includes, 1, excludes, &dcl, &functions), PK_OK);
    EXPECT_EQ(CountFiles(target), 1);
    EXPECT_TRUE(Exists(target + "CAD\\sub\\a.dll"));
    EXPECT_EQ(functions.NumMembers, 10u);

    char nothing[] = "nothing*";
    char* none[] = {nothing};
    EXPECT_EQ(unzip(1, none, 0, nullptr, &dcl, &functions), PK_FIND);
}

// Our unzip32.dll through the binding class, on the archives of tests/make_archives.py.
#include <gtest/gtest.h>

#include "RixPath.h"
#include "RixUnZip32.h"
#include "TestSupport.h"

namespace {
std::string Archive(const std::string& name) { return BuildFolder() + "archives\\" + name; }

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

int CountFiles(const std::string& folder) {
    CFindDataList found;
    return RixFindFiles(folder, "*.*", found, TRUE);
}
}  // namespace

TEST(UnzipDll, ResultCodesAndWhatIsLeftOfBadArchives) {
    std::string target = ScratchFolder("unzip_bad");
    for (const char* name : {"truncated.zip", "notazip.exe", "missing.zip"})
        EXPECT_EQ(Unzip(target + "none", Archive(name)), PK_NOZIP) << name;
    EXPECT_EQ(Unzip(ScratchFolder("unzip_sfx"), Archive("update_sfx_unadjusted.exe")), PK_WARN);
    EXPECT_EQ(Unzip(target + "none", Archive("empty.zip")), PK_WARN);
    EXPECT_NE(g_printed.find("zipfile is empty"), std::string::npos);
    EXPECT_EQ(CountFiles(target), 0);

    // A damaged member is an error and is not left behind; the others are extracted.
    EXPECT_EQ(Unzip(target, Archive("damaged.zip")), PK_ERR);
    EXPECT_EQ(ReadBytes(target + "good.txt") + ReadBytes(target + "later.txt"), "good\r\nlater\r\n");
    EXPECT_EQ(CountFiles(target), 2);
    EXPECT_NE(g_printed.find("bad.txt: bad CRC"), std::string::npos);
    EXPECT_NE(g_printed.find("broken.bin: invalid compressed data"), std::string::npos);
}

TEST(UnzipDll, RefusesMembersThatWouldLandOutsideTheTargetFolder) {
    std::string outer = ScratchFolder("unzip_slip"), target = outer + "target\\";
    EXPECT_EQ(Unzip(target, Archive("slip.zip")), PK_ERR);
    EXPECT_EQ(ReadBytes(target + "ok.txt") + ReadBytes(target + "sub\\also_ok.txt"), "ok\r\nalso ok\r\n");
    EXPECT_EQ(CountFiles(outer), 2);
    for (const char* name : {"../evil1.txt", "sub/../../evil2.txt", "..\\evil3.txt", "/evil4.txt", "\\evil5.txt",
                             "C:/evil6.txt", "D:evil7.txt", "long/nnnn"})
        EXPECT_NE(g_printed.find(std::string("error: refused ") + name), std::string::npos) << name;
}

TEST(UnzipDll, RefusesPathsOf260BytesOrMore) {
    std::string scratch = ScratchFolder("unzip_long");
    std::string target = scratch + std::string(244 - scratch.size(), 'x') + "\\";
    EXPECT_EQ(Unzip(target, Archive("update_sfx.exe")), PK_ERR);
    EXPECT_TRUE(Exists(target + "CAD\\Ver3.5"));  // 255 bytes
    EXPECT_FALSE(Exists(target + "CAD\\sub\\deeper\\zero.txt"));
    EXPECT_NE(g_printed.find("CAD/sub/deeper/zero.txt: path of 260 bytes or more"), std::string::npos);
    // The binding takes no archive or target path that long and never calls the DLL.
    CMessageBoxRecorder boxes;
    EXPECT_EQ(Unzip(scratch, scratch + std::string(260, 'a') + ".zip"), CRixUnZip32::kNotCalled);
    EXPECT_EQ(Unzip(scratch + std::string(260, 'b'), Archive("update.zip")), CRixUnZip32::kNotCalled);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST(UnzipBinding, ADllWithoutTheEntryPointCountsAsNotLoadable) {
    std::string folder = ScratchFolder("unzip_noentry");  // a loadable module: one of the test tools
    ASSERT_TRUE(::CopyFileA((BuildFolder() + "tools\\holdfile.exe").c_str(), (folder + "unzip32.dll").c_str(), FALSE));
    CMessageBoxRecorder boxes;
    EXPECT_EQ(Unzip(folder + "target", Archive("update.zip"), folder), CRixUnZip32::kNotCalled);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"zip解凍用DLL[" + folder + "unzip32.dll]を読み込みできませんでした"});
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_FALSE(Exists(folder + "target"));
}

#include <gtest/gtest.h>

#include "RixPath.h"
#include "TestSupport.h"

namespace {
// "表" in code page 932: its trail byte is the backslash byte.
const std::string kHyou = "\x95\x5C";
}

TEST(PathChars, LeadBytesOfCodePage932AreTwoBytes) {
    EXPECT_EQ(RixCharBytes(0x81), 2);
    EXPECT_EQ(RixCharBytes(0x9F), 2);
    EXPECT_EQ(RixCharBytes(0xE0), 2);
    EXPECT_EQ(RixCharBytes(0xFC), 2);
    EXPECT_EQ(RixCharBytes(0x80), 1);
    EXPECT_EQ(RixCharBytes(0xA0), 1);  // half-width katakana are single bytes
    EXPECT_EQ(RixCharBytes(0xFD), 1);
    EXPECT_EQ(RixCharBytes('\\'), 1);
    EXPECT_TRUE(RixIsSeparator('\\'));
    EXPECT_TRUE(RixIsSeparator('/'));
    EXPECT_FALSE(RixIsSeparator(':'));
}

TEST(PathChars, SourceLiteralsReachTheProgramAsCodePage932) {
    EXPECT_EQ(std::string("表"), kHyou);
    EXPECT_EQ(std::string("ﾌｧｲﾙ"), "\xCC\xA7\xB2\xD9");
}

TEST(SetPathParts, ReplacesSingleComponents) {
    std::string path = "C:\\Prog\\ZynUpdate.HLP";
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, nullptr, ".LOG2"), "C:\\Prog\\ZynUpdate.LOG2");
    path = "C:\\Prog\\ZynUpdate.HLP";
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, "", ""), "C:\\Prog\\");
    path = "C:\\d\\a.dll.BAK3";
    EXPECT_EQ(RixSetPathParts(path, "", "", "", nullptr), ".BAK3");
    path = "C:\\d\\a.dll.BAK3";
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, nullptr, ""), "C:\\d\\a.dll");
    path = "C:\\a\\b\\f.dll";
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, "", ""), "C:\\a\\b\\");
    path = "  inflating: CAD/sub/a.dll";
    EXPECT_EQ(RixSetPathParts(path, "", "", nullptr, nullptr), "a.dll");
    path = "C:\\x\\name";
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, nullptr, "ini"), "C:\\x\\name.ini");
}

TEST(SetPathParts, DoubleByteTrailBackslashIsNoSeparator) {
    std::string path = "C:\\" + kHyou + "\\" + kHyou + ".txt";
    EXPECT_EQ(RixSetPathParts(path, "", "", nullptr, nullptr), kHyou + ".txt");
    path = "C:\\dir\\" + kHyou;
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, "", ""), "C:\\dir\\");
}

TEST(SetPathParts, RefusesAResultBeyondMaxPath) {
    const std::string fits = "C:\\" + std::string(200, 'f') + "\\" + std::string(40, 'n') + ".txt";
    std::string path = fits;
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, nullptr, ".LOG1"), fits.substr(0, fits.size() - 4) + ".LOG1");
    path = fits;
    EXPECT_EQ(RixSetPathParts(path, nullptr, nullptr, nullptr, (".txt" + std::string(20, 'e')).c_str()), "");
    path = fits;
    EXPECT_EQ(RixSetPathParts(path, nullptr, ("\\" + std::string(256, 'g') + "\\").c_str(), nullptr, nullptr), "");
}

TEST(TrailBackslash, AddsAndRemovesOneSeparator) {
    EXPECT_EQ(RixTrailBackslash("C:\\dir", TRUE), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\dir/", TRUE), "C:\\dir/");
    EXPECT_EQ(RixTrailBackslash("C:\\dir\\", FALSE), "C:\\dir");
    EXPECT_EQ(RixTrailBackslash("C:\\dir\\\\", FALSE), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\dir", FALSE), "C:\\dir");
    EXPECT_EQ(RixTrailBackslash("", TRUE), "");
    EXPECT_EQ(RixTrailBackslash("", FALSE), "");
}

TEST(TrailBackslash, KeepsADoubleByteCharacterWhole) {
    EXPECT_EQ(RixTrailBackslash("C:\\" + kHyou, TRUE), "C:\\" + kHyou + "\\");
    EXPECT_EQ(RixTrailBackslash("C:\\" + kHyou, FALSE), "C:\\" + kHyou);
}

TEST(JoinPath, EnsuresExactlyOneSeparator) {
    EXPECT_EQ(RixJoinPath("C:\\a\\", "\\b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("C:\\a", "b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("C:\\a\\", "b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("", "b.exe"), "b.exe");
    EXPECT_EQ(RixJoinPath("C:\\" + kHyou, "b.exe"), "C:\\" + kHyou + "\\b.exe");
}

TEST(ModulePath, NamesTheRunningProgram) {
    std::string withName, folder;
    RixGetModulePath(withName, TRUE);
    RixGetModulePath(folder, FALSE);
    ASSERT_FALSE(withName.empty());
    EXPECT_EQ(withName.substr(withName.size() - 4), ".exe");
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(withName.compare(0, folder.size(), folder), 0);
    EXPECT_EQ(withName.find('\\', folder.size()), std::string::npos);
}

TEST(Folders, MakeFolderCreatesTheWholeChain) {
    std::string root = ScratchFolder("makefolder");
    EXPECT_TRUE(RixMakeFolder(root + "a\\b\\c"));
    EXPECT_TRUE(Exists(root + "a\\b\\c"));
    EXPECT_TRUE(RixMakeFolder(root + "a\\b\\c\\"));
    EXPECT_TRUE(RixMakeFolder(root + kHyou + "\\d"));
    EXPECT_TRUE(Exists(root + kHyou + "\\d"));
    EXPECT_FALSE(RixMakeFolder(root + std::string(300, 'x')));
}

TEST(Folders, FindFilesListsFullPathsDepthFirst) {
    std::string root = ScratchFolder("findfiles");
    ASSERT_TRUE(RixMakeFolder(root + "sub\\deeper"));
    ASSERT_TRUE(RixMakeFolder(root + "Ver9"));  // a folder is never listed
    ASSERT_TRUE(WriteBytes(root + "Ver3.5", "x"));
    ASSERT_TRUE(WriteBytes(root + "readme", "x"));
    ASSERT_TRUE(WriteBytes(root + "sub\\Ver1", "x"));
    ASSERT_TRUE(WriteBytes(root + "sub\\deeper\\a.dll", "x"));

    CFindDataList flat;
    EXPECT_EQ(RixFindFiles(root, "Ver*", flat, FALSE), 1);
    EXPECT_STREQ(flat[0].cFileName, (root + "Ver3.5").c_str());

    CFindDataList all;
    EXPECT_EQ(RixFindFiles(RixTrailBackslash(root, FALSE), "*.*", all, TRUE), 4);
    std::vector<std::string> names;
    for (const auto& record : all)
        names.push_back(record.cFileName);
    EXPECT_NE(std::find(names.begin(), names.end(), root + "sub\\deeper\\a.dll"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), root + "readme"), names.end());
    // The files of a subfolder follow each other: depth first.
    auto deeper = std::find(names.begin(), names.end(), root + "sub\\deeper\\a.dll");
    auto sub = std::find(names.begin(), names.end(), root + "sub\\Ver1");
    EXPECT_EQ(std::abs(deeper - sub), 1);
}

TEST(Folders, FindFilesKeepsEarlierRecordsAndIgnoresMissingFolders) {
    CFindDataList list(2);
    EXPECT_EQ(RixFindFiles("D:\\unit\\no-such-folder", "*.*", list, TRUE), 2);
}

TEST(Folders, DeleteFolderRemovesTheTree) {
    std::string root = ScratchFolder("deletefolder");
    ASSERT_TRUE(RixMakeFolder(root + "t\\u\\v"));
    ASSERT_TRUE(WriteBytes(root + "t\\a.txt", "a"));
    ASSERT_TRUE(WriteBytes(root + "t\\u\\v\\b.txt", "b"));
    EXPECT_EQ(RixDeleteFolder(root + "t\\"), 0);
    EXPECT_FALSE(Exists(root + "t"));
    EXPECT_EQ(RixDeleteFolder(root + "never-there"), 0);
}

TEST(Folders, DeleteFolderLeavesAReadOnlyFileAndItsParents) {
    std::string root = ScratchFolder("deletereadonly");
    ASSERT_TRUE(RixMakeFolder(root + "t\\u"));
    ASSERT_TRUE(WriteBytes(root + "t\\gone.txt", "a"));
    ASSERT_TRUE(WriteBytes(root + "t\\u\\locked.txt", "b"));
    ASSERT_TRUE(::SetFileAttributesA((root + "t\\u\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(RixDeleteFolder(root + "t"), 1);
    EXPECT_TRUE(Exists(root + "t\\u\\locked.txt"));
    EXPECT_FALSE(Exists(root + "t\\gone.txt"));
    ::SetFileAttributesA((root + "t\\u\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CompareFiles, TellsEqualDifferentAndNotComparable) {
    std::string root = ScratchFolder("compare");
    ASSERT_TRUE(WriteBytes(root + "a", "abcdef"));
    ASSERT_TRUE(WriteBytes(root + "b", "abcdef"));
    ASSERT_TRUE(WriteBytes(root + "c", "abcdeX"));
    ASSERT_TRUE(WriteBytes(root + "d", "abc"));
    ASSERT_TRUE(WriteBytes(root + "e1", ""));
    ASSERT_TRUE(WriteBytes(root + "e2", ""));
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 0);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "c"), 1);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "d"), 1);
    EXPECT_EQ(RixCompareFiles(root + "e1", root + "e2"), 0);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "missing"), 2);
    EXPECT_EQ(RixCompareFiles(root + "missing", root + "a"), 2);
}

TEST(CompareFiles, AFileHeldWithoutSharingCannotBeCompared) {
    std::string root = ScratchFolder("comparelocked");
    ASSERT_TRUE(WriteBytes(root + "a", "abc"));
    ASSERT_TRUE(WriteBytes(root + "b", "abc"));
    HANDLE held = ::CreateFileA((root + "b").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 2);
    ::CloseHandle(held);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 0);
}

#include <gtest/gtest.h>

#include "Handle.h"
#include "RixPath.h"
#include "TestSupport.h"

namespace {
// "表" in code page 932: its trail byte is the backslash byte.
const std::string kHyou = "\x95\x5C";

std::string Set(std::string path, const char* drive, const char* folder, const char* name, const char* ext) {
    return RixSetPathParts(path, drive, folder, name, ext);
}
}  // namespace

TEST(PathChars, LeadBytesOfCodePage932AreTwoBytes) {
    const std::string bytes = "\x80\x81\x9F\xA0\xE0\xFC\xFD\\", widths = "12212211";
    for (size_t i = 0; i < bytes.size(); ++i)
        EXPECT_EQ(RixCharBytes(static_cast<unsigned char>(bytes[i])), widths[i] - '0') << i;
    EXPECT_TRUE(RixIsSeparator('\\') && RixIsSeparator('/') && !RixIsSeparator(':'));
}

TEST(PathParts, ReplaceJoinAndTrailStepOverDoubleByteCharactersAndRefuseLongParts) {
    EXPECT_EQ(Set("C:\\x\\n.txt", "D", nullptr, nullptr, "ini"), "D:\\x\\n.ini");
    EXPECT_EQ(Set("C:\\x\\n.txt", nullptr, "\\new", nullptr, nullptr), "C:\\new\\n.txt");
    EXPECT_EQ(Set("C:\\" + kHyou + "\\" + kHyou + ".txt", "", "", nullptr, nullptr), kHyou + ".txt");
    EXPECT_EQ(Set("C:\\dir\\" + kHyou, nullptr, nullptr, "", ""), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\dir\\\\", FALSE), "C:\\dir\\");
    EXPECT_EQ(RixTrailBackslash("C:\\" + kHyou, TRUE), "C:\\" + kHyou + "\\");
    EXPECT_EQ(RixJoinPath("C:\\a\\", "\\b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("C:\\a", "b.exe"), "C:\\a\\b.exe");
    EXPECT_EQ(RixJoinPath("", "b.exe"), "b.exe");
    // Each part below 256 bytes, the whole below 260.
    const std::string path258 = "C:\\" + std::string(200, 'f') + "\\" + std::string(50, 'n') + ".txt";
    EXPECT_EQ(Set(path258, nullptr, nullptr, nullptr, ".LOG1"), path258.substr(0, 254) + ".LOG1");
    EXPECT_EQ(Set(path258, nullptr, nullptr, nullptr, ".LOG12"), "");
    EXPECT_EQ(Set("C:\\x\\n", nullptr, ("\\" + std::string(254, 'g') + "\\").c_str(), nullptr, nullptr), "");
    EXPECT_EQ(Set(std::string(256, 'n'), nullptr, nullptr, nullptr, nullptr), "");
    EXPECT_EQ(Set("x", "C:x", nullptr, nullptr, nullptr), "");
}

// Made with a trailing backslash below 260 bytes; find and delete skip a folder "<folder>\*.*" makes 260.
TEST(Folders, MakeFindAndDeleteWalkTheTreeWithinTheLimit) {
    const std::string root = ScratchFolder("folders"), locked = root + "sub\\locked";
    const std::string fits = root + std::string(255 - root.size(), 'f'), over = fits + "o";
    const std::string longest = root + "mk\\" + std::string(258 - root.size() - 3, 'm');
    EXPECT_TRUE(RixMakeFolder(longest) && Exists(longest));
    EXPECT_FALSE(RixMakeFolder(longest + "x") || Exists(longest + "x"));
    for (const std::string& folder : {root + "sub\\deeper", root + "Ver9", fits, over})
        ASSERT_TRUE(RixMakeFolder(folder));
    for (const std::string& file : {root + "Ver3.5", locked, root + "sub\\deeper\\a.dll", fits + "\\abc",
                                    fits + "\\abcd", over + "\\a"})
        ASSERT_TRUE(WriteBytes(file, "x"));
    CFindDataList found(1);  // earlier records stay
    EXPECT_EQ(RixFindFiles(root, "Ver*", found, FALSE), 2);  // a folder is never listed
    EXPECT_STREQ(found[1].cFileName, (root + "Ver3.5").c_str());
    EXPECT_EQ(RixFindFiles(root + "none", "*.*", found, TRUE), 2);
    found.clear();
    EXPECT_EQ(RixFindFiles(RixTrailBackslash(root, FALSE), "*.*", found, TRUE), 4);  // fits\abcd is not
    EXPECT_EQ(RixDeleteFolder(over), 1);
    EXPECT_TRUE(Exists(over + "\\a"));
    ASSERT_TRUE(::SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(RixDeleteFolder(root + "sub"), 1);
    EXPECT_TRUE(Exists(locked) && !Exists(root + "sub\\deeper"));
    ASSERT_TRUE(::SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(RixDeleteFolder(root + "sub\\"), 0);
    EXPECT_FALSE(Exists(root + "sub"));
    EXPECT_EQ(RixDeleteFolder(root + "sub"), 0);
}

TEST(CompareFiles, TellsEqualDifferentAndNotComparable) {
    const std::string root = ScratchFolder("compare");
    ASSERT_TRUE(WriteBytes(root + "a", "abc") && WriteBytes(root + "b", "abc") && WriteBytes(root + "c", "abX") &&
                WriteBytes(root + "d", "ab") && WriteBytes(root + "e", "") && WriteBytes(root + "f", ""));
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 0);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "c"), 1);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "d"), 1);
    EXPECT_EQ(RixCompareFiles(root + "e", root + "f"), 0);
    EXPECT_EQ(RixCompareFiles(root + "a", root + "missing"), 2);
    // Held without sharing by another program.
    CFileHandle held(::CreateFileA((root + "b").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(RixCompareFiles(root + "a", root + "b"), 2);
}

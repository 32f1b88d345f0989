#include <gtest/gtest.h>

#include "RixLog.h"
#include "TestSupport.h"

namespace {
using Messages = std::vector<std::string>;

// A line as the mailslot receives it: its bytes and the terminating zero byte.
std::string Sent(const std::string& line) { return line + '\0'; }

// Every test leaves file logging switched off, as the program starts.
class RixPrintfTest : public testing::Test {
protected:
    void TearDown() override { RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath"); }
};
}  // namespace

TEST_F(RixPrintfTest, WithoutReaderOrFileReturnsTheMessageLength) {
    EXPECT_EQ(RixPrintf("X", 5, "abc\n"), 4);
    EXPECT_EQ(RixPrintf(nullptr, -1, "%s", ""), 0);
}

TEST_F(RixPrintfTest, MailslotGetsEachLineWithItsZeroByte) {
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(RixPrintf("X", 5, "abc\n"), 4);
    EXPECT_EQ(RixPrintf(nullptr, 5, "abc"), 3);
    EXPECT_EQ(RixPrintf("X", 5, "\n"), 1);
    EXPECT_EQ(RixPrintf("X", 5, "abc\n\n"), 5);
    EXPECT_EQ(RixPrintf("O", -1, "%s=%d", "n", 7), 3);
    EXPECT_EQ(RixPrintf("表", 1, "表示\n"), 5);  // code page 932 bytes pass unchanged
    EXPECT_EQ(reader.ReadAll(), (Messages{Sent("abc [X(5)]\n"), Sent("abc"), Sent(" [X(5)]\n"), Sent("abc\n [X(5)]\n"),
                                          Sent("n=7 [O(-1)]\n"), Sent("表示 [表(1)]\n")}));
}

TEST_F(RixPrintfTest, MailslotIsOpenedAnewOnEveryCall) {
    EXPECT_EQ(RixPrintf(nullptr, -1, "before\n"), 7);
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(RixPrintf(nullptr, -1, "after\n"), 6);
    EXPECT_EQ(reader.ReadAll(), Messages{Sent("after\n")});
}

TEST_F(RixPrintfTest, LongestMessageIs65535BytesAndTheLineStaysBounded) {
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());
    const std::string longest(65535, 'a');
    EXPECT_EQ(RixPrintf(nullptr, -1, "%s", longest.c_str()), 65535);
    EXPECT_LT(RixPrintf(nullptr, -1, "%s!", longest.c_str()), 0);
    Messages sent = reader.ReadAll();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0] == Sent(longest));

    // With an origin the composed line would outgrow its buffer: it is cut there.
    const std::string nearly(65530, 'b');
    EXPECT_EQ(RixPrintf("X", 5, "%s\n", nearly.c_str()), 65531);
    sent = reader.ReadAll();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0] == Sent(nearly + " [X(5")) << sent[0].substr(65520);
}

TEST_F(RixPrintfTest, FileSinkAppendsCrLfLines) {
    const std::string folder = ScratchFolder("log_file");
    const std::string path = folder + "rix.log";
    ASSERT_TRUE(WriteBytes(path, "kept\r\n"));
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());

    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath%s", path.c_str()), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "one\n"), 4);
    EXPECT_EQ(RixPrintf("X", 5, "two\n"), 4);
    EXPECT_EQ(RixPrintf(nullptr, -1, "run"), 3);  // no line feed of its own: runs on
    EXPECT_EQ(RixPrintf(nullptr, -1, "on\n"), 3);
    EXPECT_EQ(ReadBytes(path), "kept\r\none\r\ntwo [X(5)]\r\nrunon\r\n");

    // The keyword alone switches the file off; commands never reach the mailslot.
    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath"), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "three\n"), 6);
    EXPECT_EQ(ReadBytes(path), "kept\r\none\r\ntwo [X(5)]\r\nrunon\r\n");
    EXPECT_EQ(reader.ReadAll(),
              (Messages{Sent("one\n"), Sent("two [X(5)]\n"), Sent("run"), Sent("on\n"), Sent("three\n")}));
}

TEST_F(RixPrintfTest, PathCommandIsTheExactKeywordAtTheStart) {
    const std::string folder = ScratchFolder("log_keyword");
    const std::string path = folder + "rix.log";
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());

    // The keyword may come from an argument: the formatted text is what counts.
    EXPECT_EQ(RixPrintf(nullptr, -1, "%s%s", "SetRixPrintfLogFilePath", path.c_str()), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "x SetRixPrintfLogFilePath%s", folder.c_str()),
              25 + static_cast<int>(folder.size()));
    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePat"), 22);
    EXPECT_EQ(RixPrintf(nullptr, -1, "setrixprintflogfilepath%sother.log", folder.c_str()),
              32 + static_cast<int>(folder.size()));
    EXPECT_EQ(ReadBytes(path), "x SetRixPrintfLogFilePath" + folder + "SetRixPrintfLogFilePatsetrixprintflogfilepath" +
                                   folder + "other.log");
    EXPECT_FALSE(Exists(folder + "other.log"));
    EXPECT_EQ(reader.ReadAll().size(), 3u);
}

TEST_F(RixPrintfTest, PathKeepsALeadingBlank) {
    const std::string folder = ScratchFolder("log_blank");
    char previous[MAX_PATH];
    ASSERT_NE(::GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));
    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath blank.log"), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "line\n"), 5);
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(ReadBytes(folder + " blank.log"), "line\r\n");
    EXPECT_FALSE(Exists(folder + "blank.log"));
}

TEST_F(RixPrintfTest, PathOf260BytesIsRefusedAndThePathInUseStays) {
    const std::string folder = ScratchFolder("log_limit");
    const std::string longest = folder + std::string(MAX_PATH - 1 - folder.size() - 4, 'p') + ".log";
    ASSERT_EQ(longest.size(), 259u);
    const std::string tooLong = folder + std::string(MAX_PATH - folder.size() - 4, 'q') + ".log";
    CMailslotReader reader;
    ASSERT_TRUE(reader.IsOpen());

    EXPECT_EQ(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath%s", longest.c_str()), 0);
    EXPECT_LT(RixPrintf(nullptr, -1, "SetRixPrintfLogFilePath%s", tooLong.c_str()), 0);
    EXPECT_EQ(RixPrintf(nullptr, -1, "still here\n"), 11);
    EXPECT_EQ(ReadBytes(longest), "still here\r\n");
    EXPECT_EQ(reader.ReadAll(), Messages{Sent("still here\n")});
}

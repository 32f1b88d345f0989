// The version and revision parsers' corner cases; discovery itself is checked end to end
// (tests/e2e/test_check.py).
#include <gtest/gtest.h>

#include <climits>

#include "VersionText.h"

TEST(VersionText, KeysCodesAndRevisions) {
    const struct {
        const char* text;
        int key, code;
    } cases[] = {{"3.5", 35000, 350},  {"3.50", 35000, 350},     {"3.5a", 35001, 350},       {"3.5z", 35026, 350},
                 {"3", 30000, 300},    {"10.25", 102500, 1025},  {"3.12345", 312345, 3123},  {"3.5.1", 3510, 35},
                 {"3.5ア", 35, 0},  // ア's trail byte 0x41 is no letter
                 {"99999999999", INT_MAX, INT_MAX / 100}};
    for (const auto& c : cases)
        EXPECT_EQ(VersionKey(c.text) * 100000LL + VersionCode(VersionKey(c.text)), c.key * 100000LL + c.code) << c.text;
    EXPECT_EQ(VerFileVersionText("Ver3.5A") + VerFileVersionText("Ver3.5ア"), "3.5a3.5ア");
    const std::pair<const char*, int> revisions[] = {{"Ver3.5 (No.3)\r\n(No.12) fix\r\n", 12}, {"(No.3) No.7 open", 0},
                                                     {"none", 0}, {"no.5)", 0}, {"No.  15)", 15}, {"No.12a)", 12},
                                                     {"No.)", 0}, {"No.99999999999)", INT_MAX}};
    for (const auto& c : revisions)
        EXPECT_EQ(ParseRevision(c.first), c.second) << c.first;
}

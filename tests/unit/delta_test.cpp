// Binary deltas through real files: round trips over the format's edges with a bound on
// each delta's size (a matcher that finds nothing still round-trips), and every refusal,
// none of which may leave a new file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "Delta.h"
#include "TestSupport.h"

namespace {
std::string RandomBytes(size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(bytes, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

// Rows of a steel table in code page 932; every editEvery-th row gets another weight.
std::string SteelTable(int rows, int editEvery) {
    static const char* const kSections[] = {"H形鋼", "溝形鋼", "等辺山形鋼", "角形鋼管", "鋼管"};
    std::mt19937 random(25);
    std::string table;
    for (int row = 0; row < rows; ++row) {
        const unsigned height = 100 + random() % 800, width = 50 + random() % 300, web = 45 + random() % 200;
        const bool edited = editEvery > 0 && row % editEvery == editEvery / 2;
        char line[160];
        std::snprintf(line, sizeof(line), "%s,%u×%u×%u.%u,%u,%u,%.2f\r\n", kSections[row % 5], height, width,
                      web / 10, web % 10, height, width, (height * width) / 1000.0 + (edited ? 1.25 : 0));
        table += line;
    }
    return table;
}

// The old bytes with a part inserted, a part removed and two blocks rewritten.
std::string Reworked(const std::string& old) {
    std::string out = old.substr(0, 100000) + RandomBytes(40000, 7) + old.substr(100000, 80000) + old.substr(210000);
    out.replace(20000, 1000, RandomBytes(1000, 8));
    out.replace(200000, 1000, RandomBytes(1000, 9));
    return out;
}

// Instructions with 32-bit references, an insertion, and every reference after it moved
// by its length, as a rebuilt DLL has them.
void MovedCode(std::string& older, std::string& newer) {
    std::mt19937 random(5);
    for (int i = 0; i < 8000; ++i) {
        const unsigned target = random() | 1 << 20;
        const std::string padding = RandomBytes(6 + random() % 14, i);
        if (i == 3000)
            newer += RandomBytes(16, 0);
        for (std::string* code : {&older, &newer}) {
            const unsigned moved = code == &newer && i >= 3000 ? target - 16 : target;
            *code += std::string("\x8b") + "\x05\x0d\x15"[i % 3];
            *code += std::string(reinterpret_cast<const char*>(&moved), 4) + padding;
        }
    }
}

// Where the header (Delta.h) keeps the two hashes and the streams' lengths.
const size_t kOldHashAt = 24, kNewHashAt = 56, kLengthsAt = 88;

struct CPaths {
    std::string folder = ScratchFolder("差分");
    std::string old = folder + "旧.dll", delta = folder + "差分.bin", made = folder + "新.dll";
};
}  // namespace

TEST(Delta, RoundTripsWithinBoundedSizes) {
    const std::string random = RandomBytes(262144, 1), table = SteelTable(8000, 100);
    std::string code, movedCode;
    MovedCode(code, movedCode);
    const struct {
        const char* name;
        std::string older, newer;
        size_t window, most;
    } rows[] = {
        {"empty old file", "", random.substr(0, 5000), kDeltaWindow, 5300},
        {"empty new file", random, "", kDeltaWindow, 200},
        {"both empty", "", "", kDeltaWindow, 200},
        {"identical", random, random, kDeltaWindow, 200},
        {"identical beyond the window", random, random, 16384, 400},
        {"moved parts beyond the window", random, Reworked(random), 16384, 45000},
        {"moved code", code, movedCode, kDeltaWindow, 1500},
        {"edited steel table", SteelTable(8000, 0), table, kDeltaWindow, table.size() / 50},
        {"edited steel table beyond the window", SteelTable(8000, 0), table, 16384, table.size() / 40},
    };
    CPaths paths;
    for (const auto& row : rows) {
        std::string delta;
        ASSERT_TRUE(MakeDelta(row.older, row.newer, delta, row.window)) << row.name;
        EXPECT_LE(delta.size(), row.most) << row.name;
        ASSERT_TRUE(WriteBytes(paths.old, row.older) && WriteBytes(paths.delta, delta));
        DWORD error = 1;
        EXPECT_EQ(ApplyDelta(paths.old, paths.delta, paths.made, &error), kDeltaApplied) << row.name;
        EXPECT_EQ(error, 0u) << row.name;
        EXPECT_TRUE(ReadBytes(paths.made) == row.newer) << row.name;
    }
}

TEST(Delta, RefusalsLeaveNoNewFile) {
    const std::string older = SteelTable(3000, 0), newer = SteelTable(3000, 50), shorter = newer.substr(0, 50000);
    std::string delta, other;
    ASSERT_TRUE(MakeDelta(older, newer, delta) && MakeDelta(older, shorter, other));
    auto flipped = [](std::string bytes, size_t at) { return bytes[at] ^= 1, bytes; };
    auto plusOne = [](std::string bytes, size_t at) { return ++bytes[at], bytes; };
    CPaths paths;
    const struct {
        const char* name;
        std::string old, delta, made;
        DeltaResult result;
        DWORD error;
    } rows[] = {
        {"not a delta", older, flipped(delta, 0), paths.made, kDeltaDamaged, 0},
        {"another format version", older, flipped(delta, 4), paths.made, kDeltaDamaged, 0},
        {"cut header", older, delta.substr(0, kDeltaHeaderBytes - 1), paths.made, kDeltaDamaged, 0},
        {"cut stream", older, delta.substr(0, delta.size() - 1), paths.made, kDeltaDamaged, 0},
        {"a byte too many", older, delta + "x", paths.made, kDeltaDamaged, 0},
        {"streams of another delta", older, delta.substr(0, kLengthsAt) + other.substr(kLengthsAt), paths.made,
         kDeltaDamaged, 0},
        {"an inflated length one too long", older, plusOne(delta, kLengthsAt + 8), paths.made, kDeltaDamaged, 0},
        {"wrong result hash", older, flipped(delta, kNewHashAt), paths.made, kDeltaResultMismatch, 0},
        {"made for another old file", older, flipped(delta, kOldHashAt), paths.made, kDeltaOtherOldFile, 0},
        {"old file changed here", flipped(older, 1000), delta, paths.made, kDeltaOtherOldFile, 0},
        {"old file cut", older.substr(1), delta, paths.made, kDeltaOtherOldFile, 0},
        {"no new folder", older, delta, paths.folder + "無い\\新.dll", kDeltaWriteFailed, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(WriteBytes(paths.old, row.old) && WriteBytes(paths.delta, row.delta));
        DWORD error = 1;
        EXPECT_EQ(ApplyDelta(paths.old, paths.delta, row.made, &error), row.result) << row.name;
        EXPECT_EQ(error, row.error) << row.name;
        EXPECT_FALSE(Exists(row.made)) << row.name;
    }
    DWORD error = 0;
    EXPECT_EQ(ApplyDelta(paths.folder + "無い.dll", paths.delta, paths.made, &error), kDeltaOtherOldFile);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ApplyDelta(paths.old, paths.folder + "無い.bin", paths.made, &error), kDeltaDamaged);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Exists(paths.made));
}

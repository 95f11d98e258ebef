// Version parsing and comparison: the one rule every version decision uses.
#include <gtest/gtest.h>

#include <string>

#include "engine/FileUpdater.h"

namespace {

struct CompareCase {
    const char* a;
    const char* b;
    int greater;  // CompareVersion(a, b)
    int same;
};

// clang-format off
const CompareCase kCompareCases[] = {
    {"1.0.0.10", "1.0.0.9", 1, 0},   // numeric, not textual
    {"1.0", "1.0.0.0", 0, 1},        // missing fields are 0
    {"1..2", "1.2", 0, 1},           // empty pieces skipped
    {".1.2.", "1.2", 0, 1},          // leading and trailing dots
    {"3b", "3", 0, 1},               // digits win over letters
    {"1.a", "1.9", 1, 0},            // a = 11
    {"1.b", "1.a", 1, 0},            // b = 12
    {"00", "0", 0, 1},               // all-zero piece
    {"A", "0", 0, 1},                // negative sum clamps to 0
    {"1.0.0.1.9", "1.0.0.1", 0, 1},  // fifth field ignored
    {"2.0.0.0", "1.9.9.9", 1, 0},    // first field dominates
    {"1.0.6.1", "1.0.6.2", 0, 0},
    {"", "0.0.0.0", 0, 1},           // empty text is all zero
    {"1.0", "", 1, 0},
};
// clang-format on

TEST(CompareVersionTest, ComparesFieldByField) {
    for (const CompareCase& c : kCompareCases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        int same = -1;
        EXPECT_EQ(CFileUpdater::CompareVersion(c.a, c.b, &same), c.greater);
        EXPECT_EQ(same, c.same);
        // The rule must be antisymmetric, or the decision flips with argument order.
        int reverseSame = -1;
        int reverse = CFileUpdater::CompareVersion(c.b, c.a, &reverseSame);
        EXPECT_EQ(reverseSame, c.same);
        EXPECT_EQ(reverse, (c.greater || c.same) ? 0 : 1);
    }
}

TEST(ParseVersionTest, SplitsLikeATokenizer) {
    struct {
        const char* text;
        int fields[4];
    } cases[] = {
        {"1.2.3.4", {1, 2, 3, 4}}, {"1...2", {1, 2, 0, 0}},      {"...", {0, 0, 0, 0}},
        {"7", {7, 0, 0, 0}},       {"10.ab.3", {10, 368, 3, 0}},  // (11 + 12) * 16
        {"-1.2", {-1, 2, 0, 0}},                                  // a sign is part of the number
    };
    for (const auto& c : cases) {
        int out[4] = {9, 9, 9, 9};
        CFileUpdater::ParseVersion(c.text, out);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(out[i], c.fields[i]) << c.text << " field " << i;
    }
}

TEST(ParseVersionTest, HostileFieldsSaturateInsteadOfOverflowing) {
    // Versions come from the server; oversized fields must still order sanely.
    int out[4];
    CFileUpdater::ParseVersion("99999999999999999999.zzzzzzzzzzzzzzzzzzzzzzzz", out);
    EXPECT_EQ(out[0], INT_MAX);
    EXPECT_GT(out[1], 0);
    int same = 0;
    EXPECT_EQ(CFileUpdater::CompareVersion("99999999999999999999", "2147483646", &same), 1);
    EXPECT_EQ(CFileUpdater::LetterValue("Q"), 0);  // 81 - 86 < 0
    EXPECT_EQ(CFileUpdater::LetterValue("Z"), 4);
    EXPECT_EQ(CFileUpdater::LetterValue("0"), 0);
    EXPECT_EQ(CFileUpdater::LetterValue(nullptr), 0);
}

TEST(CompareVersionTest, NullArgumentsAreEmptyVersions) {
    int same = 0;
    EXPECT_EQ(CFileUpdater::CompareVersion(nullptr, "0", &same), 0);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(CFileUpdater::CompareVersion("1", nullptr, nullptr), 1);
}

}  // namespace

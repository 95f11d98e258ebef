// Version comparison: the one rule every version decision uses.
#include <gtest/gtest.h>

#include <string>

#include "engine/FileUpdater.h"

namespace {

TEST(CompareVersionTest, ComparesFieldByField) {
    struct {
        const char* a;
        const char* b;
        int greater;  // CompareVersion(a, b)
        int same;
    } cases[] = {
        {"1.0.0.10", "1.0.0.9", 1, 0},   // numeric, not textual
        {"1.0", "1.0.0.0", 0, 1},        // missing fields are 0
        {"", "0.0.0.0", 0, 1},           // empty text is all zero
        {nullptr, "0", 0, 1},            // and so is none
        {".1...2.", "1.2", 0, 1},        // runs of dots separate like a tokenizer
        {"1.0.0.1.9", "1.0.0.1", 0, 1},  // fifth field ignored
        {"-1.2", "0.2", 0, 0},           // a sign is part of the number
        {"3b", "3", 0, 1},               // digits win over letters
        {"1.a", "1.9", 1, 0},            // a = 11
        {"10.ab.3", "10.368.3", 0, 1},   // (11 + 12) * 16
        {"Q.Z.00", "0.4", 0, 1},         // Z = 4; Q would be negative: 0
        {"99999999999999999999", "2147483647", 0, 1},
        {"1.zzzzzzzzzzzzzzzzzzzzzzzz", "1.2147483646", 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " vs " + c.b);
        int same = -1;
        EXPECT_EQ(CFileUpdater::CompareVersion(c.a, c.b, &same), c.greater);
        EXPECT_EQ(same, c.same);
        int reverseSame = -1;
        int reverse = CFileUpdater::CompareVersion(c.b, c.a, &reverseSame);
        EXPECT_EQ(reverseSame, c.same);
        EXPECT_EQ(reverse, (c.greater || c.same) ? 0 : 1);
    }
    EXPECT_EQ(CFileUpdater::CompareVersion("1", "0", nullptr), 1);  // "same" is optional
}

}  // namespace

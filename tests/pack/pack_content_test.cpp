// Content inside packs: deleting, refused adds and best-fit reuse of freed
// space (growth of the tree area is exercised by the pack-update kill test).
#include <gtest/gtest.h>

#include "platform/Error.h"
#include "support/PackTestUtil.h"

using namespace varntest;

namespace {

using Files = std::map<std::string, std::string>;

// Entry i of the free-block table: 0 sizes, 1 offsets.
uint64_t TableAt(const std::string& b, int table, int i) {
    return At<uint64_t>(b, 34 + table * 40000 + i * 8);
}

class PackContentTest : public ::testing::Test {
protected:
    void Add(CPackFile& p, const std::string& inner, const std::string& content) {
        std::string src = dir / ("src" + std::to_string(m_nSources++));
        TempDir::WriteFile(src, content);
        ASSERT_TRUE(p.AddFile(src.c_str(), inner.c_str())) << inner;
    }
    uint64_t OffsetOf(CPackFile& p, const char* inner) {
        uint64_t off = 0;
        EXPECT_TRUE(p.GetFileInfo(inner, &off, nullptr)) << inner;
        return off;
    }
    TempDir dir;
    std::string pack = dir / "Data.lpk";
    int m_nSources = 0;
};

TEST_F(PackContentTest, FreedBlocksAreRecordedInOrderAndReusedByBestFit) {
    WritePack(pack, {{"a", std::string(100, 'a')},
                     {"b", std::string(300, 'b')},
                     {"dir\\c", std::string(200, 'c')},
                     {"dir\\sub\\d", std::string(300, 'd')},
                     {"e", std::string(50, 'e')}});
    const std::string src = dir / "src";
    TempDir::WriteFile(src, "x");
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    uint64_t offB = OffsetOf(p, "b"), offA = OffsetOf(p, "a"), offE = OffsetOf(p, "e");
    const uint64_t end = p.GetEndOfData();
    EXPECT_FALSE(p.AddFile(src.c_str(), "E"));
    EXPECT_EQ(plat::GetLastError(), 183u);
    EXPECT_FALSE(p.AddFile((dir / "missing").c_str(), "new"));
    EXPECT_FALSE(p.AddFile(src.c_str(), "e\\below")) << "a file is no directory";
    EXPECT_EQ(p.GetEndOfData(), end) << "refused adds take no space";
    for (const char* name : {"a", "B", "DIR"})  // a directory frees everything below it
        EXPECT_TRUE(p.DeleteFile(name)) << name;
    EXPECT_FALSE(p.DeleteFile("a")) << "already gone";
    EXPECT_EQ(plat::GetLastError(), 2u);
    ASSERT_TRUE(p.Close());
    std::string b = TempDir::ReadFile(pack);
    EXPECT_EQ(std::vector({TableAt(b, 0, 0), TableAt(b, 0, 1), TableAt(b, 0, 2) + TableAt(b, 0, 3),
                           TableAt(b, 0, 4)}),
              std::vector<uint64_t>({100, 300, 500, 0}));
    EXPECT_EQ(TableAt(b, 1, 0), offA);
    EXPECT_EQ(TableAt(b, 1, 1), offB);

    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    Add(p, "x", std::string(250, 'x'));  // 300 fits best; of the two the first entry wins
    EXPECT_EQ(OffsetOf(p, "x"), offB);
    Add(p, "y", std::string(100, 'y'));  // exact fit empties entry 0
    EXPECT_EQ(OffsetOf(p, "y"), offA);
    Add(p, "z", std::string(1000, 'z'));  // nothing fits: appended
    EXPECT_EQ(OffsetOf(p, "z"), end);
    EXPECT_TRUE(p.DeleteFile("e"));  // freed in this session, reusable at once
    Add(p, "w", std::string(50, 'w'));
    EXPECT_EQ(OffsetOf(p, "w"), offE);
    ASSERT_TRUE(p.Close());
    b = TempDir::ReadFile(pack);
    EXPECT_EQ(std::vector({TableAt(b, 0, 0), TableAt(b, 1, 0), TableAt(b, 0, 1), TableAt(b, 1, 1)}),
              std::vector<uint64_t>({0, 0, 50, offB + 250}));

    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, PACK_MODE_READ));
    EXPECT_FALSE(p.AddFile(src.c_str(), "new")) << "read-only";
    EXPECT_FALSE(p.DeleteFile("x")) << "read-only";
    EXPECT_EQ(PackContents(p), (Files{{"x", std::string(250, 'x')},
                                      {"y", std::string(100, 'y')},
                                      {"z", std::string(1000, 'z')},
                                      {"w", std::string(50, 'w')}}));
}

}  // namespace

// Content inside packs: deleting, best-fit reuse of freed space, growth of
// the tree area with the data region moved, and very large directories.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pack/PackFile.h"
#include "platform/Error.h"
#include "support/PackTestUtil.h"

using namespace varntest;

namespace {

constexpr uint64_t kDataStart = 0x1138A2;

uint64_t TableAt(const std::string& b, int table, int i) {
    uint64_t v;
    std::memcpy(&v, b.data() + 34 + table * 40000 + i * 8, 8);
    return v;
}

class PackContentTest : public ::testing::Test {
protected:
    std::string Local(const std::string& name, const std::string& content) {
        std::string path = dir / ("src_" + name);
        WriteBytes(path, content);
        return path;
    }
    void Add(CPackFile& p, const std::string& inner, const std::string& content) {
        // A fresh source each time: truncating one can be slow on some disks.
        std::string src = Local("f" + std::to_string(m_nSources++), content);
        ASSERT_TRUE(p.AddFile(src.c_str(), inner.c_str())) << inner;
    }
    uint64_t OffsetOf(CPackFile& p, const char* inner) {
        uint64_t off = 0;
        EXPECT_TRUE(p.GetFileInfo(inner, &off, nullptr)) << inner;
        return off;
    }
    PackTempDir dir;
    std::string pack = dir / "Data.lpk";
    int m_nSources = 0;
};

TEST_F(PackContentTest, FreedBlocksAreRecordedInOrderAndReusedByBestFit) {
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    const std::vector<std::pair<const char*, size_t>> files = {
        {"a", 100}, {"b", 300}, {"c", 200}, {"d", 300}, {"e", 50}};
    for (auto& [name, size] : files)
        Add(p, name, std::string(size, name[0]));
    uint64_t offB = OffsetOf(p, "b"), offA = OffsetOf(p, "a"), offE = OffsetOf(p, "e");
    uint64_t end = p.GetEndOfData();
    ASSERT_TRUE(p.Close());

    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    for (const char* name : {"a", "B", "c", "d"})
        EXPECT_TRUE(p.DeleteFile(name)) << name;
    EXPECT_FALSE(p.DeleteFile("a")) << "already gone";
    EXPECT_EQ(plat::GetLastError(), 2u);
    ASSERT_TRUE(p.Close());
    std::string b = ReadBytes(pack);
    const uint64_t sizes[] = {100, 300, 200, 300, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(TableAt(b, 0, i), sizes[i]) << i;
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
    b = ReadBytes(pack);
    EXPECT_EQ(TableAt(b, 0, 0), 0u);
    EXPECT_EQ(TableAt(b, 1, 0), 0u);
    EXPECT_EQ(TableAt(b, 0, 1), 50u);
    EXPECT_EQ(TableAt(b, 1, 1), offB + 250);

    auto contents = PackContentsAt(pack);
    EXPECT_EQ(contents.size(), 4u);
    EXPECT_EQ(contents["x"], std::string(250, 'x'));
    EXPECT_EQ(contents["y"], std::string(100, 'y'));
    EXPECT_EQ(contents["z"], std::string(1000, 'z'));
    EXPECT_EQ(contents["w"], std::string(50, 'w'));
}

TEST_F(PackContentTest, BlocksOfSixHundredFortyMebibytesAreNotReused) {
    struct Case {
        uint64_t blockSize;
        bool reused;
    } cases[] = {{0x28000000, false}, {0x27FFFFFF, true}};
    for (const Case& c : cases) {
        CPackFile p;
        ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
        Add(p, "keep", "k");
        ASSERT_TRUE(p.Close());
        // A free block behind the content, as a big deleted file leaves one.
        std::string b = ReadBytes(pack);
        RawPackHeader h = RawPackHeader::Read(b);
        uint64_t blockAt = h.endOfData;
        h.endOfData += c.blockSize;
        h.WriteInto(b);
        std::memcpy(b.data() + 34, &c.blockSize, 8);
        std::memcpy(b.data() + 40034, &blockAt, 8);
        WriteBytes(pack, b);

        ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
        Add(p, "new", "0123456789");
        EXPECT_EQ(OffsetOf(p, "new"), c.reused ? blockAt : h.endOfData) << c.blockSize;
        p.Close();
    }
}

TEST_F(PackContentTest, DeletingADirectoryFreesEveryFileBelowIt) {
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    Add(p, "dir\\sub\\one", "1111");
    Add(p, "dir\\two", "22");
    Add(p, "other", "3");
    EXPECT_TRUE(p.MakeDirectory("empty\\deeper"));
    EXPECT_TRUE(p.DeleteFile("DIR"));
    EXPECT_FALSE(p.Exists("dir\\two"));
    EXPECT_TRUE(p.Exists("Empty\\Deeper"));
    ASSERT_TRUE(p.Close());
    std::string b = ReadBytes(pack);
    EXPECT_EQ(TableAt(b, 0, 0) + TableAt(b, 0, 1), 6u);
    EXPECT_EQ((PackContentsAt(pack)), (std::map<std::string, std::string>{{"other", "3"}}));
}

TEST_F(PackContentTest, AddFileRefusesExistingNamesMissingSourcesAndReadOnlyPacks) {
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    Add(p, "dir\\file", "abc");
    uint64_t end = p.GetEndOfData();
    EXPECT_FALSE(p.AddFile(Local("g", "x").c_str(), "DIR\\FILE"));
    EXPECT_EQ(plat::GetLastError(), 183u);
    EXPECT_FALSE(p.AddFile((dir / "missing").c_str(), "dir\\other"));
    EXPECT_FALSE(p.AddFile(Local("g", "x").c_str(), "dir\\file\\below"))
        << "a file is no directory";
    EXPECT_EQ(p.GetEndOfData(), end) << "failed adds take no space";
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 1));
    EXPECT_FALSE(p.AddFile(Local("g", "x").c_str(), "new"));
    EXPECT_FALSE(p.DeleteFile("dir\\file"));
    p.Close();
    EXPECT_EQ(PackContentsAt(pack).at("dir\\file"), "abc");
}

int g_moveSteps = 0;
void CountMoveSteps(WindowHandle, uint32_t message, uint64_t w, uint64_t l) {
    if (message == kPackProgressMessage && w == 0 && l == 0)
        ++g_moveSteps;
}

TEST_F(PackContentTest, OutgrownTreeAreaTriplesAndMovesTheDataRegionUp) {
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 40; ++i) {
        std::string name = "old\\f" + std::to_string(i);
        expected[name] = std::string(5000 + i, char('a' + i % 26));
        Add(p, name, expected[name]);
    }
    ASSERT_TRUE(p.Close());

    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    std::map<std::string, uint64_t> before;
    for (auto& [name, content] : expected)
        before[name] = OffsetOf(p, name.c_str());
    uint64_t freedAt = before["old\\f0"];
    ASSERT_TRUE(p.DeleteFile("old\\f0"));
    expected.erase("old\\f0");
    // About 1.1 MiB of names outgrow the 1 MiB tree area.
    for (int i = 0; i < 1100; ++i) {
        std::string name = "new\\" + std::string(1000, 'n') + std::to_string(i);
        expected[name] = "content " + std::to_string(i);
        Add(p, name, expected[name]);
    }
    uint64_t end = p.GetEndOfData();
    g_moveSteps = 0;
    CPackFile::SetProgressHook(CountMoveSteps);
    int window;
    p.SetWindow(&window);
    ASSERT_TRUE(p.Close());
    CPackFile::SetProgressHook(nullptr);
    EXPECT_EQ(g_moveSteps, int((end - kDataStart + 65535) / 65536));

    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_EQ(p.GetTreeAreaSize(), 3u * 0x100000);
    EXPECT_EQ(p.GetEndOfData(), end + 2 * 0x100000);
    for (auto& [name, off] : before) {
        if (name == "old\\f0") continue;
        EXPECT_EQ(OffsetOf(p, name.c_str()), off + 2 * 0x100000) << name;
    }
    EXPECT_EQ(PackContents(p), expected);
    p.Close();
    std::string b = ReadBytes(pack);
    // The new files were placed at the front of the freed block.
    EXPECT_LT(TableAt(b, 0, 0), 5000u);
    EXPECT_EQ(TableAt(b, 1, 0) + TableAt(b, 0, 0), freedAt + 5000 + 2 * 0x100000);
    EXPECT_FALSE(std::filesystem::exists(pack + ".jnl"));
}

TEST_F(PackContentTest, HundredThousandFilesInOneDirectory) {
    constexpr int kFiles = 100000;
    std::string empty = Local("empty", "");
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(p.AddFile(empty.c_str(), ("flat\\n" + std::to_string(i)).c_str()));
    }
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    for (int i = 0; i < kFiles; i += 2) {
        ASSERT_TRUE(p.DeleteFile(("FLAT\\N" + std::to_string(i)).c_str()));
    }
    ASSERT_TRUE(p.Close());
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 1));
    int count = 0;
    p.ForEachFile([&](const std::string&, uint64_t) { ++count; });
    EXPECT_EQ(count, kFiles / 2);
    EXPECT_TRUE(p.Exists("flat\\n99999"));
    EXPECT_FALSE(p.Exists("flat\\n99998"));
}

}  // namespace

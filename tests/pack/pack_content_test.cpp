// Content inside packs: deleting, refused adds and best-fit reuse of freed
// space; growing the tree area whatever the data region holds, and closes
// that fail or are cut short (a kill at every write of a whole update is
// the pack-update kill test's).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

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

constexpr uint64_t kMiB = 0x100000;

// Moves the end of data recorded in a pack's header by delta bytes.
void ShiftEndOfData(const std::string& pack, int64_t delta) {
    std::string b = TempDir::ReadFile(pack);
    FlipPackHeader(b);
    uint64_t end = At<uint64_t>(b, 18) + delta;
    std::memcpy(b.data() + 18, &end, sizeof end);
    FlipPackHeader(b);
    TempDir::WriteFile(pack, b);
}

TEST_F(PackContentTest, GrowingTheTreeAreaMovesWhateverTheDataRegionHolds) {
    // Empty files take no content, so their nodes alone fill the tree area.
    const std::string empty = dir / "empty";
    TempDir::WriteFile(empty, "");
    Files added;
    for (int i = 0; i < 25000; ++i)
        added["new\\e" + std::to_string(i)] = "";
    const Files content = {{"a", std::string(5000, 'a')}, {"d\\b", "bb"}};
    // what, open mode, files before, 1 MiB of the recorded data region
    // missing from the file
    const std::tuple<const char*, int, Files, bool> rows[] = {
        {"a new pack", 0xC, {}, false},
        {"an existing pack that holds nothing", 0xA, {}, false},
        {"a pack whose end of data lies past the end of its file", 0xA, content, true},
    };
    for (const auto& [what, mode, before, cut] : rows) {
        SCOPED_TRACE(what);
        std::filesystem::remove(pack);
        if (mode != 0xC)
            WritePack(pack, before);
        if (cut)
            ShiftEndOfData(pack, kMiB);
        const uint64_t length = cut ? std::filesystem::file_size(pack) : 0;
        CPackFile p;
        ASSERT_TRUE(p.Open(pack.c_str(), nullptr, mode));
        const uint64_t end = p.GetEndOfData(), offA = before.empty() ? 0 : OffsetOf(p, "a");
        for (auto& [inner, data] : added)
            ASSERT_TRUE(p.AddFile(empty.c_str(), inner.c_str()));
        ASSERT_TRUE(p.Close()) << plat::GetLastError();
        EXPECT_FALSE(std::filesystem::exists(pack + ".jnl"));

        ASSERT_TRUE(p.Open(pack.c_str(), nullptr, PACK_MODE_READ)) << CPackFile::LastRefusal();
        EXPECT_EQ(p.GetTreeAreaSize(), 3 * kMiB);
        EXPECT_EQ(p.GetEndOfData(), end + 2 * kMiB);
        Files expected = added;
        expected.insert(before.begin(), before.end());
        EXPECT_EQ(PackContents(p), expected);
        if (cut) {  // what the file held moved up; what it lacked is still absent
            EXPECT_EQ(OffsetOf(p, "a"), offA + 2 * kMiB);
            EXPECT_EQ(std::filesystem::file_size(pack), length + 2 * kMiB);
        }
    }
}

// Makes the k-th write to a pack or its journal fail as on a full disk (the
// stream is moved onto /dev/full, which takes no byte), or, in a death
// test's child, ends the process there. Records where each write ends.
int g_nWrites = 0;
int g_nFailAt = 0;  // 0: never
bool g_bKill = false;
std::vector<uint64_t> g_WriteEnds;
void FailAtWrite(std::FILE* f, uint64_t offset, const void*, size_t len) {
    if (!f)
        return;  // the journal's removal
    g_WriteEnds.push_back(offset + len);
    if (++g_nWrites != g_nFailAt)
        return;
    if (g_bKill)
        std::_Exit(86);
    if (!std::freopen("/dev/full", "r+b", f))
        std::abort();
}

// A pack about to outgrow its 1 MiB tree area: names that nearly fill it,
// more content than the 2 MiB the data region moves by, and an end of data
// recorded 1 MiB past the end of the file. The session adds names enough to
// grow the tree area; its Close fails or is cut short.
class PackCloseTest : public PackContentTest {
protected:
    void SetUp() override {
        if (!std::filesystem::exists("/dev/full"))
            GTEST_SKIP() << "needs /dev/full";
        const std::string pad(230, 'n');
        for (int i = 0; i < 3800; ++i)
            before["e\\" + pad + std::to_string(i)] = "";
        for (int i = 0; i < 34; ++i)
            before["c\\f" + std::to_string(i)] = std::string(65536, char('a' + i % 26));
        WritePack(pack, before);
        ShiftEndOfData(pack, kMiB);
        original = TempDir::ReadFile(pack);
        after = before;
        for (int i = 0; i < 100; ++i)
            after["n\\" + pad + std::to_string(i)] = "";
        TempDir::WriteFile(empty, "");
    }
    void TearDown() override { CPackFile::SetWriteHookForTests(nullptr); }
    // Restores the pack and closes a session on it, the k-th write failing.
    int CloseSession(int failAt) {
        TempDir::WriteFile(pack, original);
        CPackFile p;
        if (!p.Open(pack.c_str(), nullptr, 0xA))
            return -1;
        for (auto& [inner, content] : after) {
            if (!before.count(inner) && !p.AddFile(empty.c_str(), inner.c_str()))
                return -1;
        }
        lengthAtClose = std::filesystem::file_size(pack);
        return WithWritesFailingAt(failAt, [&] { return p.Close(); });
    }
    template <class Fn>
    int WithWritesFailingAt(int k, Fn fn) {
        g_nWrites = 0, g_nFailAt = k;
        g_WriteEnds.clear();
        CPackFile::SetWriteHookForTests(FailAtWrite);
        int result = fn();
        CPackFile::SetWriteHookForTests(nullptr);
        return result;
    }
    Files before, after;
    std::string original;
    uint64_t lengthAtClose = 0;
    const std::string journal = pack + ".jnl";
    const std::string empty = dir / "empty";
};

TEST_F(PackCloseTest, AFailedCloseLeavesThePackAsItWasOrFinishesOnTheNextOpen) {
    ASSERT_EQ(CloseSession(0), 1);
    const std::vector<uint64_t> ends = g_WriteEnds;
    EXPECT_EQ(PackContentsAt(pack), after);
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, PACK_MODE_READ));
    ASSERT_EQ(p.GetTreeAreaSize(), 3 * kMiB) << "the session must grow the tree area";
    p.Close();
    // The moving steps alike are sampled; the first and last writes, and
    // those around the journal's mark (the one write ending within its first
    // 8 bytes), are all tried.
    const int total = int(ends.size());
    auto tried = [&](int k) {
        for (int i = std::max(1, k - 1); i <= std::min(total, k + 1); ++i) {
            if (ends[i - 1] <= 8)
                return true;
        }
        return k <= 3 || k > total - 3 || k % 3 == 0;
    };
    int kept = 0;
    for (int k = 1; k <= total && !HasFailure(); ++k) {
        if (!tried(k))
            continue;
        SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(total));
        ASSERT_EQ(CloseSession(k), 0);
        const bool journalKept = std::filesystem::exists(journal);
        // A full disk shows where the file grows, before the pack's used
        // bytes change: such a failure, or one of the journal's own write,
        // leaves the pack as it was; one in the final metadata cannot.
        if (k == 1 || ends[k - 1] > lengthAtClose) {
            EXPECT_FALSE(journalKept);
        }
        if (k == total) {
            EXPECT_TRUE(journalKept);
        }
        if (!journalKept) {
            EXPECT_EQ(PackContentsAt(pack), before);
            continue;
        }
        ++kept;
        // A replay that fails too is refused and keeps the journal for the
        // next Open, which finishes the commit.
        EXPECT_EQ(WithWritesFailingAt(1, [&] { return p.Open(pack.c_str(), nullptr, 0xA); }), 0);
        EXPECT_NE(std::string(CPackFile::LastRefusal()).find("cannot be finished"),
                  std::string::npos);
        EXPECT_EQ(plat::GetLastError(), 112u) << "the disk-full error stays the caller's";
        EXPECT_TRUE(std::filesystem::exists(journal));
        EXPECT_EQ(PackContentsAt(pack), after);
        EXPECT_FALSE(std::filesystem::exists(journal));
    }
    EXPECT_GT(kept, 0);
}

TEST_F(PackCloseTest, JournalsThatCannotBeCarriedOutAreDroppedOrRefusedWithAReason) {
    ASSERT_EQ(CloseSession(0), 1);
    const int writes = g_nWrites;
    // Killed right after the journal was committed: nothing of the pack has
    // changed, and the journal's data region reaches past the end of the file.
    EXPECT_EXIT((g_bKill = true, CloseSession(2), std::_Exit(0)), ::testing::ExitedWithCode(86),
                "");
    const std::string committed = TempDir::ReadFile(journal), killed = TempDir::ReadFile(pack);
    std::string header = killed;
    FlipPackHeader(header);
    ASSERT_GT(At<uint64_t>(header, 18), killed.size());
    using Edit = std::function<void(std::string&)>;
    const Edit intact = [](std::string&) {};
    // what, edit of the journal, the disk is full, the state the pack opens in
    const std::tuple<const char*, Edit, bool, const Files*> rows[] = {
        {"intact: the close is finished", intact, false, &after},
        {"intact, but the disk is full: dropped", intact, true, &before},
        {"truncated: dropped", [](std::string& j) { j.pop_back(); }, false, &before},
        {"a metadata byte changed: dropped", [](std::string& j) { j[j.size() / 2] ^= 1; }, false,
         &before},
        {"not a journal: dropped", [](std::string& j) { j = "junk"; }, false, &before},
    };
    for (const auto& [what, edit, full, state] : rows) {
        SCOPED_TRACE(what);
        std::string j = committed;
        edit(j);
        TempDir::WriteFile(pack, killed);
        TempDir::WriteFile(journal, j);
        CPackFile p;
        ASSERT_TRUE(WithWritesFailingAt(full ? 1 : 0, [&] {
            return p.Open(pack.c_str(), nullptr, 0xA);
        })) << CPackFile::LastRefusal();
        EXPECT_STREQ(CPackFile::LastRefusal(), "");
        EXPECT_FALSE(std::filesystem::exists(journal));
        EXPECT_EQ(PackContents(p), *state);
    }

    // Failed in its metadata, after the pack had begun to change: a damaged
    // journal can neither be finished nor dropped, and every Open says so
    // without touching the pack.
    ASSERT_EQ(CloseSession(writes), 0);
    std::string started = TempDir::ReadFile(journal);
    started.resize(started.size() - 1);
    TempDir::WriteFile(journal, started);
    const std::string stuck = TempDir::ReadFile(pack);
    for (int attempt = 0; attempt < 2; ++attempt) {
        CPackFile p;
        EXPECT_FALSE(p.Open(pack.c_str(), nullptr, PACK_MODE_READ));
        EXPECT_NE(std::string(CPackFile::LastRefusal()).find("damaged"), std::string::npos);
        EXPECT_EQ(plat::GetLastError(), 13u);
        EXPECT_TRUE(TempDir::ReadFile(journal) == started);
        EXPECT_TRUE(TempDir::ReadFile(pack) == stuck);
    }
}

}  // namespace

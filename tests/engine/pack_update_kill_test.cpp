// A pack update ended abruptly at any write must be repairable by running
// the same update again: a child process runs the update and dies just
// before its k-th write to a pack or journal, for many k; the parent then
// runs the update to the end and compares both packs with a clean run.
// The update grows the tree area of one pack (so the data region moves)
// and creates the other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/pack_update_env.h"

namespace {

using namespace varntest;
namespace fs = std::filesystem;

constexpr int kKilled = 86;
constexpr const char* kGrowing = "Data\\A.lpk";
constexpr const char* kCreated = "Data\\Sub\\B.lpk";

int g_nWrites = 0;
int g_nKillAt = 0;  // 0: never

// At an odd kill point the write is torn: half of its bytes reach the file.
void CountOrDie(std::FILE* f, uint64_t offset, const void* data, size_t len) {
    ++g_nWrites;
    if (!g_nKillAt || g_nWrites != g_nKillAt)
        return;
    if (f && len && g_nKillAt % 2 == 1 && fseeko(f, off_t(offset), SEEK_SET) == 0) {
        std::fwrite(data, 1, len / 2, f);
        std::fflush(f);
    }
    std::_Exit(kKilled);
}

std::string LongName(const char* dir, int i) {
    return std::string(dir) + "\\" + std::string(200, 'n') + std::to_string(i);
}

class PackKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        game = dir / "game";
        work = game + "/Update/" + kPackBase;
        // Close to a full 1 MiB tree area, and more content than the 2 MiB
        // the data region moves by, so that the move overwrites its source.
        std::map<std::string, std::string> installed, patchA, patchB;
        for (int i = 0; i < 4250; ++i)
            installed[LongName("old", i)] = "o" + std::to_string(i);
        for (int i = 0; i < 60; ++i)
            installed["keep\\k" + std::to_string(i)] = std::string(37000, char('a' + i % 26));
        for (int i = 0; i < 100; ++i)
            patchA[LongName("new", i)] = "new " + std::to_string(i);
        for (int i = 0; i < 10; ++i)
            patchA["keep\\k" + std::to_string(i * 5)] = std::string(2000 + i * 300, 'R');
        for (int i = 0; i < 5; ++i)
            patchB["b\\f" + std::to_string(i)] = std::string(100 * i, 'b');
        WritePack(dir / "A.orig", installed);
        WritePack(DataPath(work, kGrowing), patchA);
        WritePack(DataPath(work, kCreated), patchB);
        for (auto* patch : {&patchA, &patchB}) {
            const char* pack = patch == &patchA ? kGrowing : kCreated;
            for (auto& [inner, content] : *patch) {
                entries.push_back(PackEntry(std::string(pack) + "\\" + inner,
                                            Fingerprint(dir.path(), content),
                                            uint32_t(content.size())));
            }
            for (auto& [inner, content] : *patch)
                (patch == &patchA ? installed : expectedB)[inner] = content;
        }
        expectedA = installed;
        CPackFile::SetWriteHookForTests(CountOrDie);
    }
    void TearDown() override { CPackFile::SetWriteHookForTests(nullptr); }

    void Restore() {
        fs::remove_all(game + "/Data");
        fs::create_directories(game + "/Data");
        fs::copy_file(dir / "A.orig", DataPath(game, kGrowing));
    }
    // The patch run's part for one archive: every entry, then the commit.
    int RunUpdate() {
        CUpdaterBase::ResetSharedStateForTests();
        PackEngine engine;
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        engine.SetBaseName(kPackBase);
        for (UpdateFileEntry& e : entries) {
            if (!engine.PackFileUpdate(&e))
                return 0;
        }
        return engine.ClosePackFiles();
    }
    void ExpectCleanResult(int killedAt) {
        EXPECT_EQ(PackContentsAt(DataPath(game, kGrowing)), expectedA) << "killed at " << killedAt;
        EXPECT_EQ(PackContentsAt(DataPath(game, kCreated)), expectedB) << "killed at " << killedAt;
        for (auto& f : fs::recursive_directory_iterator(game + "/Data")) {
            if (!f.is_regular_file())
                continue;
            EXPECT_EQ(f.path().extension(), ".lpk") << f.path() << " killed at " << killedAt;
        }
    }

    RunTempDir dir;
    std::string game, work;
    std::vector<UpdateFileEntry> entries;
    std::map<std::string, std::string> expectedA, expectedB;
};

TEST_F(PackKillTest, ARerunAfterAKillAtAnyWriteEndsLikeACleanRun) {
    Restore();
    g_nWrites = 0;
    g_nKillAt = 0;
    ASSERT_EQ(RunUpdate(), 1);
    const int total = g_nWrites;
    ExpectCleanResult(0);
    {
        CPackFile a;
        ASSERT_TRUE(a.Open(DataPath(game, kGrowing).c_str(), nullptr, 1));
        ASSERT_EQ(a.GetTreeAreaSize(), 3u * 0x100000) << "the update must grow the tree area";
    }
    // Samples of the content writes and, more densely, of the commits (the
    // last writes: the journals, the move of the data region, the metadata).
    const int commitPhase = 100;
    for (int k = 1; k <= total; ++k) {
        if (k < total - commitPhase ? k % 19 != 1 : (k > total - 8 ? false : k % 5 != 0))
            continue;
        Restore();
        EXPECT_EXIT(
            {
                g_nWrites = 0;
                g_nKillAt = k;
                RunUpdate();
                std::_Exit(0);
            },
            ::testing::ExitedWithCode(kKilled), "")
            << "kill point " << k;
        g_nKillAt = 0;
        ASSERT_EQ(RunUpdate(), 1) << "rerun after a kill at " << k;
        ExpectCleanResult(k);
        if (HasFailure())
            break;
    }
}

}  // namespace

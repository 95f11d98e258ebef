// PackFileUpdate: entries moved from the patch's pack into installed packs,
// the packs kept open across entries, creation of missing packs, each
// failure with its code, user-log tag and notification, and a rerun after
// the update was killed at any write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

#include "archive/FileHash.h"
#include "engine/run_test_env.h"
#include "support/PackTestUtil.h"

namespace {

using namespace varntest;
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr const char* kBase = "1.0.0.1_to_1.0.0.2";
const char* const kSound = "Data\\Sound\\Sound.lpk";

class PackEngine : public RunEngine {
public:
    CPackFile& Patch() { return m_TempPackfile; }
};

class PackUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        fs::create_directories(game);
        plat::SetCurrentDir(game);
        Prepare(engine);
    }
    void TearDown() override { CUpdaterBase::SetCallBack(nullptr, nullptr); }
    void Reset() {
        CUpdaterBase::ResetSharedStateForTests();
        CUpdaterBase::SetCallBack(nullptr, RecordingCallback);
        SeenNotifications().clear();
    }
    void Prepare(PackEngine& e) {
        e.SetUpdatePath(game.c_str());
        e.SetBaseName(kBase);
    }
    std::string Installed(const char* pack = kSound) { return plat::JoinDataPath(game, pack); }
    void Patch(const Files& files, const char* pack = kSound) {
        WritePack(plat::JoinDataPath(work, pack), files);
    }
    // A file-list entry for name with the engine's fingerprint of content.
    UpdateFileEntry Entry(const std::string& name, const std::string& content) {
        const std::string path = dir / "fingerprint.tmp";
        TempDir::WriteFile(path, content);
        CFileHash hash;
        hash.HashFile(path.c_str());
        hash.Final();
        UpdateFileEntry e{};
        hash.ReportHash(e.szHash, REPORT_HEX);
        std::snprintf(e.szFileName, sizeof e.szFileName, "%s", name.c_str());
        e.byUpdateType = uvf::UPDATE_TYPE_PACK;
        e.nFileSize = uint32_t(content.size());
        return e;
    }
    int Apply(const std::string& name, const std::string& content) {
        UpdateFileEntry e = Entry(name, content);
        return engine.PackFileUpdate(&e);
    }
    int Count(int code) {
        auto codes = SeenCodes();
        return int(std::count(codes.begin(), codes.end(), code));
    }

    TempDir dir;
    std::string game = dir / "game";
    std::string work = game + "/Update/" + kBase;
    PackEngine engine;
};

TEST_F(PackUpdateTest, AnEntryIsStoredInTheInstalledPackAndCommittedOnClose) {
    struct Row {
        const char* pack;
        std::optional<Files> installed;  // none: the pack is missing
        const char* entry;
        std::string content;
        bool held;  // by the engine's second object: retried once after closing both
        Files expected;
    } rows[] = {
        // The file takes the entry's name, the existing directory keeps its own.
        {kSound,
         Files{{"bgm\\title.wav", "old"}, {"other", "keep"}},
         "BGM\\Title.wav",
         "new",
         false,
         {{"bgm\\Title.wav", "new"}, {"other", "keep"}}},
        {kSound, Files{}, "empty", "", false, {{"empty", ""}}},
        {"Data\\New\\Deep\\New.lpk", std::nullopt, "d\\f", "fresh", false, {{"d\\f", "fresh"}}},
        {kSound, Files{{"f", "old"}}, "f", "new", true, {{"f", "new"}}},
    };
    for (const Row& row : rows) {
        const std::string name = std::string(row.pack) + "\\" + row.entry;
        SCOPED_TRACE(name);
        Reset();
        fs::remove_all(game + "/Data");
        if (row.installed)
            WritePack(Installed(row.pack), *row.installed);
        Patch({{row.entry, row.content}}, row.pack);
        if (row.held)
            ASSERT_TRUE(engine.Patch().Open(Installed(row.pack).c_str(), nullptr, 0xA));
        ASSERT_EQ(Apply(name, row.content), 1);
        ASSERT_EQ(SeenNotifications().size(), 1u);
        const Seen& s = SeenNotifications()[0];
        EXPECT_EQ(std::tuple(s.code, s.name, s.index, s.total),
                  std::tuple(NOTIFY_APPLY_FILE, name, 1, uint64_t(row.content.size())));
        EXPECT_FALSE(fs::exists(work + "/tmp.uvf"));
        EXPECT_EQ(PackContentsAt(Installed(row.pack)).count("<unopenable>"), 1u) << "held open";
        ASSERT_EQ(engine.ClosePackFiles(), 1);
        EXPECT_EQ(SeenCodes().back(), NOTIFY_PERCENT);
        EXPECT_EQ(PackContentsAt(Installed(row.pack)), row.expected);
    }
}

TEST_F(PackUpdateTest, EntriesOfOnePackShareTheOpenPacksAndAChangeOfPackCommits) {
    const char* other = "Data\\Map\\Map.lpk";
    WritePack(Installed(), {{"x", "1"}});
    WritePack(Installed(other), {{"g", "old"}});
    Patch({{"a", "aaa"}, {"d\\b", "bb"}});
    Patch({{"g", "new g"}}, other);
    ASSERT_EQ(Apply(std::string(kSound) + "\\a", "aaa"), 1);
    // A reopen of the patch's pack would fail now; the open one still reads.
    fs::remove(plat::JoinDataPath(work, kSound));
    ASSERT_EQ(Apply(std::string(kSound) + "\\d\\b", "bb"), 1);
    EXPECT_EQ(Count(NOTIFY_PERCENT), 0) << "the installed pack was not closed";
    EXPECT_EQ(SeenNotifications().back().index, 2);

    ASSERT_EQ(Apply(std::string(other) + "\\g", "new g"), 1);
    EXPECT_EQ(Count(NOTIFY_PERCENT), 1);
    EXPECT_EQ(PackContentsAt(Installed()), (Files{{"x", "1"}, {"a", "aaa"}, {"d\\b", "bb"}}));
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(Installed(other)).at("g"), "new g");
}

TEST_F(PackUpdateTest, FailuresRecordTheirCodeTagAndNotification) {
    const char* kSubTag = "ERROR_PACK_TEMP_SUB_FILE_OPEN_FAIL(";
    const char* kOpenTag = "ERROR_PACK_FILE_OPEN_FAIL(";
    const std::string readme = game + "/Data/readme.txt";
    CPackFile holder;
    struct Row {
        const char* what;
        std::function<void(UpdateFileEntry&)> setup;
        int code;
        const char* tag;  // user-log tag, or null when none is written
        bool notified;
    } rows[] = {
        {"no pack component: a plain game file is left alone",
         [&](UpdateFileEntry& e) {
             TempDir::WriteFile(readme, "game file");
             std::strcpy(e.szFileName, "Data\\readme.txt");
         },
         1205, kSubTag, false},
        {"pack cannot be created",
         [&](auto&) {
             fs::remove_all(game + "/Data");
             TempDir::WriteFile(game + "/Data", "a file where the directory belongs");
         },
         1202, "ERROR_PACK_FILE_CREATE_FAIL(", false},
        {"installed pack unreadable", [&](auto&) { TempDir::WriteFile(Installed(), "not a pack"); },
         1203, kOpenTag, false},
        {"installed pack held elsewhere",
         [&](auto&) { ASSERT_TRUE(holder.Open(Installed().c_str(), nullptr, 0xA)); }, 1203,
         kOpenTag, false},
        {"patch pack missing", [&](auto&) { fs::remove(plat::JoinDataPath(work, kSound)); }, 1204,
         nullptr, false},
        {"file missing from the patch pack",
         [&](auto&) {
             Patch({{"other", "x"}});
         },
         1205, kSubTag, false},
        {"scratch file cannot be made", [&](auto&) { fs::create_directories(work + "/tmp.uvf"); },
         1206, "ERROR_PACK_TEMP_UVF_FILE_CRATE_FAIL(", false},
        {"patch file shorter than its entry", [](UpdateFileEntry& e) { e.nFileSize += 10; }, 0,
         nullptr, true},
        {"hash mismatch", [](UpdateFileEntry& e) { std::memset(e.szHash, '0', 40); }, 1209,
         "ERROR_PACK_INVALID_HASH(", true},
        {"installed pack has a file where the directory belongs",
         [&](auto&) {
             WritePack(Installed(), {{"bgm", "a file"}});
         },
         1210, "ERROR_PACK_ADD_FILE_FAIL(", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Reset();
        for (const std::string& d : {game + "/Data", game + "/Log", work})
            fs::remove_all(d);
        WritePack(Installed(), {{"bgm\\title.wav", "old"}});
        Patch({{"bgm\\title.wav", "new"}});
        UpdateFileEntry e = Entry(std::string(kSound) + "\\bgm\\title.wav", "new");
        row.setup(e);
        EXPECT_EQ(engine.PackFileUpdate(&e), 0);
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), row.code);
        std::string log;
        std::error_code ec;
        for (auto& f : fs::directory_iterator(game + "/Log", ec))
            log += TempDir::ReadFile(f.path());
        EXPECT_EQ(log.find(row.tag ? row.tag : "ERROR_PACK") != std::string::npos,
                  row.tag != nullptr)
            << log;
        EXPECT_EQ(Count(NOTIFY_APPLY_FILE), row.notified ? 1 : 0);
        EXPECT_FALSE(fs::is_regular_file(work + "/tmp.uvf"));
        engine.ClosePackFiles();
        holder.Close();
        if (std::string(e.szFileName) == "Data\\readme.txt")
            EXPECT_EQ(TempDir::ReadFile(readme), "game file");
        if (row.notified && row.code != 1210) {
            EXPECT_EQ(PackContentsAt(Installed()).at("bgm\\title.wav"), "old")
                << "a file that failed its check leaves the installed version in place";
        }
    }
}

// A pack update ended abruptly at any write must be repairable by running
// the same update again: a child process runs the update and dies just
// before its k-th write to a pack or journal, for many k; the parent then
// runs the update to the end and compares both packs with a clean run.
// The update grows the tree area of one pack (so the data region moves)
// and creates the other.
constexpr int kKilled = 86;
constexpr const char* kGrowing = "Data\\A.lpk";
constexpr const char* kCreated = "Data\\Sub\\B.lpk";
int g_nWrites = 0;
int g_nKillAt = 0;  // 0: never

// At an odd kill point the write is torn: half of its bytes reach the file.
void CountOrDie(std::FILE* f, uint64_t offset, const void* data, size_t len) {
    if (++g_nWrites != g_nKillAt)
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

class PackKillTest : public PackUpdateTest {
protected:
    void SetUp() override {
        PackUpdateTest::SetUp();
        // Close to a full 1 MiB tree area, and more content than the 2 MiB
        // the data region moves by, so that the move overwrites its source.
        Files patchA, patchB;
        for (int i = 0; i < 4250; ++i)
            expectedA[LongName("old", i)] = "o" + std::to_string(i);
        for (int i = 0; i < 60; ++i)
            expectedA["keep\\k" + std::to_string(i)] = std::string(37000, char('a' + i % 26));
        WritePack(dir / "A.orig", expectedA);
        for (int i = 0; i < 100; ++i)
            patchA[LongName("new", i)] = "new " + std::to_string(i);
        for (int i = 0; i < 10; ++i)
            patchA["keep\\k" + std::to_string(i * 5)] = std::string(2000 + i * 300, 'R');
        for (int i = 0; i < 5; ++i)
            patchB["b\\f" + std::to_string(i)] = std::string(100 * i, 'b');
        for (auto [pack, patch, expected] : {std::tuple(kGrowing, &patchA, &expectedA),
                                             std::tuple(kCreated, &patchB, &expectedB)}) {
            Patch(*patch, pack);
            for (auto& [inner, content] : *patch) {
                entries.push_back(Entry(std::string(pack) + "\\" + inner, content));
                (*expected)[inner] = content;
            }
        }
        CPackFile::SetWriteHookForTests(CountOrDie);
    }
    void TearDown() override {
        CPackFile::SetWriteHookForTests(nullptr);
        PackUpdateTest::TearDown();
    }
    // The patch run's part for one archive, from the original packs: every
    // entry, then the commit.
    int RunUpdate() {
        CUpdaterBase::ResetSharedStateForTests();
        PackEngine run;
        Prepare(run);
        for (UpdateFileEntry& e : entries) {
            if (!run.PackFileUpdate(&e))
                return 0;
        }
        return run.ClosePackFiles();
    }
    void Restore() {
        fs::remove_all(game + "/Data");
        fs::create_directories(game + "/Data");
        fs::copy_file(dir / "A.orig", Installed(kGrowing));
    }
    void ExpectCleanResult(int killedAt) {
        SCOPED_TRACE("killed at " + std::to_string(killedAt));
        EXPECT_EQ(PackContentsAt(Installed(kGrowing)), expectedA);
        EXPECT_EQ(PackContentsAt(Installed(kCreated)), expectedB);
        for (auto& f : fs::recursive_directory_iterator(game + "/Data")) {
            if (f.is_regular_file())
                EXPECT_EQ(f.path().extension(), ".lpk") << f.path();
        }
    }

    std::vector<UpdateFileEntry> entries;
    Files expectedA, expectedB;
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
        ASSERT_TRUE(a.Open(Installed(kGrowing).c_str(), nullptr, 1));
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

// PackFileUpdate: entries moved from the patch's pack into installed packs,
// failures, and a rerun after the update was killed at any write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

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
    explicit PackEngine(const std::string& game) {
        SetUpdatePath(game.c_str());
        SetBaseName(kBase);
    }
    CPackFile& Patch() { return m_TempPackfile; }
};

class PackUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        fs::create_directories(game);
        plat::SetCurrentDir(game);
    }
    void TearDown() override {
        CUpdaterBase::SetCallBack(nullptr, nullptr);
        CPackFile::SetWriteHookForTests(nullptr);
    }
    void Reset() {
        CUpdaterBase::ResetSharedStateForTests();
        CUpdaterBase::SetCallBack(nullptr, RecordingCallback);
        SeenNotifications().clear();
    }
    std::string Installed(const char* pack = kSound) { return plat::JoinDataPath(game, pack); }
    void Patch(const Files& files, const char* pack = kSound) {
        WritePack(plat::JoinDataPath(work, pack), files);
    }
    // A file-list entry for name with the fingerprint of content (under
    // 88000 bytes: its plain digest).
    static UpdateFileEntry Entry(const std::string& name, const std::string& content) {
        CFileHash hash;
        hash.Update(content.data(), content.size());
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

    TempDir dir;
    std::string game = dir / "game";
    std::string work = game + "/Update/" + kBase;
    PackEngine engine{game};
};

TEST_F(PackUpdateTest, AnEntryIsStoredInTheInstalledPackAndCommittedOnClose) {
    enum { kPlain, kMissing, kHeld };  // kHeld: by the engine's second object
    // pack, its state, its files, entry, entry content, files after the commit
    const std::tuple<const char*, int, Files, const char*, std::string, Files> rows[] = {
        // The file takes the entry's name, the existing directory keeps its own.
        {kSound, kPlain, {{"d\\t", "1"}, {"o", "k"}}, "D\\T", "new", {{"d\\T", "new"}, {"o", "k"}}},
        {"Data\\New\\Deep\\New.lpk", kMissing, {}, "d\\f", "fresh", {{"d\\f", "fresh"}}},
        // A sharing violation is retried once after closing both packs.
        {kSound, kHeld, {{"f", "old"}}, "f", "new", {{"f", "new"}}},
    };
    for (const auto& [pack, state, installed, entry, content, expected] : rows) {
        const std::string name = std::string(pack) + "\\" + entry;
        SCOPED_TRACE(name);
        Reset();
        fs::remove_all(game + "/Data");
        if (state != kMissing)
            WritePack(Installed(pack), installed);
        Patch({{entry, content}}, pack);
        ASSERT_TRUE(state != kHeld || engine.Patch().Open(Installed(pack).c_str(), nullptr, 0xA));
        ASSERT_EQ(Apply(name, content), 1);
        ASSERT_EQ(SeenNotifications().size(), 1u);
        const Seen& s = SeenNotifications()[0];
        EXPECT_EQ(std::tuple(s.code, s.name, s.index, s.total),
                  std::tuple(NOTIFY_APPLY_FILE, name, 1, uint64_t(content.size())));
        EXPECT_FALSE(fs::exists(work + "/tmp.uvf"));
        EXPECT_EQ(PackContentsAt(Installed(pack)).count("<unopenable>"), 1u) << "held open";
        ASSERT_EQ(engine.ClosePackFiles(), 1);
        EXPECT_EQ(SeenCodes().back(), NOTIFY_PERCENT);
        EXPECT_EQ(PackContentsAt(Installed(pack)), expected);
    }
}

TEST_F(PackUpdateTest, FailuresRecordTheirCodeTagAndNotification) {
    const std::string readme = game + "/Data/readme.txt";
    // what, setup, code, user-log tag after "ERROR_PACK_" (null: none), notified
    const std::tuple<const char*, std::function<void(UpdateFileEntry&)>, int, const char*, bool>
        rows[] = {
            {"no pack component: a plain game file is left alone",
             [&](UpdateFileEntry& e) {
                 TempDir::WriteFile(readme, "game file");
                 std::strcpy(e.szFileName, "Data\\readme.txt");
             },
             1205, "TEMP_SUB_FILE_OPEN_FAIL(", false},
            {"pack cannot be created",
             [&](auto&) {
                 fs::remove_all(game + "/Data"), TempDir::WriteFile(game + "/Data", "x");
             },
             1202, "FILE_CREATE_FAIL(", false},
            {"installed pack unreadable",
             [&](auto&) { TempDir::WriteFile(Installed(), "not a pack"); }, 1203, "FILE_OPEN_FAIL(",
             false},
            {"patch pack missing", [&](auto&) { fs::remove(plat::JoinDataPath(work, kSound)); },
             1204, nullptr, false},
            {"scratch file cannot be made (only large entries use one)",
             [&](UpdateFileEntry& e) {
                 const std::string big(5u << 20, 'n');
                 Patch({{"bgm\\title.wav", big}});
                 e = Entry(std::string(kSound) + "\\bgm\\title.wav", big);
                 fs::create_directories(work + "/tmp.uvf");
             },
             1206, "TEMP_UVF_FILE_CRATE_FAIL(", false},
            {"patch file shorter than its entry", [](UpdateFileEntry& e) { e.nFileSize += 10; }, 0,
             nullptr, true},
            {"hash mismatch", [](UpdateFileEntry& e) { std::memset(e.szHash, '0', 40); }, 1209,
             "INVALID_HASH(", true},
            {"installed pack has a file where the directory belongs",
             [&](auto&) {
                 WritePack(Installed(), {{"bgm", "a file"}});
             },
             1210, "ADD_FILE_FAIL(", true},
        };
    for (const auto& [what, setup, code, tag, notified] : rows) {
        SCOPED_TRACE(what);
        Reset();
        for (const std::string& d : {game + "/Data", game + "/Log", work})
            fs::remove_all(d);
        WritePack(Installed(), {{"bgm\\title.wav", "old"}});
        Patch({{"bgm\\title.wav", "new"}});
        UpdateFileEntry e = Entry(std::string(kSound) + "\\bgm\\title.wav", "new");
        setup(e);
        EXPECT_EQ(engine.PackFileUpdate(&e), 0);
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), code);
        std::string log;
        std::error_code ec;
        for (auto& f : fs::directory_iterator(game + "/Log", ec))
            log += TempDir::ReadFile(f.path());
        EXPECT_EQ(log.find(std::string("ERROR_PACK_") + (tag ? tag : "")) != log.npos,
                  tag != nullptr)
            << log;
        const std::vector<int> codes = SeenCodes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), NOTIFY_APPLY_FILE), notified ? 1 : 0);
        EXPECT_FALSE(fs::is_regular_file(work + "/tmp.uvf"));
        engine.ClosePackFiles();
        EXPECT_TRUE(std::strcmp(e.szFileName, "Data\\readme.txt") != 0 ||
                    TempDir::ReadFile(readme) == "game file");
        if (notified && code != 1210) {  // a failed check leaves the installed version
            EXPECT_EQ(PackContentsAt(Installed()).at("bgm\\title.wav"), "old");
        }
    }
}

// At an odd kill point the write is torn: half of its bytes reach the file.
constexpr int kKilled = 86;
int g_nWrites = 0;
int g_nKillAt = 0;  // 0: never
void CountOrDie(std::FILE* f, uint64_t offset, const void* data, size_t len) {
    if (++g_nWrites != g_nKillAt)
        return;
    if (f && len && g_nKillAt % 2 == 1 && fseeko(f, off_t(offset), SEEK_SET) == 0) {
        std::fwrite(data, 1, len / 2, f);
        std::fflush(f);
    }
    std::_Exit(kKilled);
}

// A child dies just before its k-th write to a pack or journal, for many k;
// rerunning the update must end like a clean run.
TEST_F(PackUpdateTest, ARerunAfterAKillAtAnyWriteEndsLikeACleanRun) {
    const char* made = "Data\\Sub\\B.lpk";  // created by the update
    const std::string pad(200, 'n');        // long names
    // A nearly full tree area, and more content than the 2 MiB the data region
    // moves by when the update grows it: the move overwrites its source.
    Files expectedA, patchA, patchB;
    for (int i = 0; i < 4250; ++i)
        expectedA["old\\" + pad + std::to_string(i)] = "o" + std::to_string(i);
    for (int i = 0; i < 60; ++i)
        expectedA["keep\\k" + std::to_string(i)] = std::string(37000, char('a' + i % 26));
    WritePack(Installed(), expectedA);
    const std::string original = TempDir::ReadFile(Installed());
    for (int i = 0; i < 100; ++i)
        patchA["new\\" + pad + std::to_string(i)] = "new " + std::to_string(i);
    for (int i = 0; i < 10; ++i)
        patchA["keep\\k" + std::to_string(i * 5)] = std::string(2000 + i * 300, 'R');
    for (int i = 0; i < 5; ++i)
        patchB["b\\f" + std::to_string(i)] = std::string(100 * i, 'b');
    Patch(patchA);
    Patch(patchB, made);
    std::vector<UpdateFileEntry> entries;
    for (auto& [inner, content] : patchA) {
        entries.push_back(Entry(std::string(kSound) + "\\" + inner, content));
        expectedA[inner] = content;
    }
    for (auto& [inner, content] : patchB)
        entries.push_back(Entry(std::string(made) + "\\" + inner, content));

    auto restore = [&] {
        fs::remove_all(game + "/Data");
        TempDir::WriteFile(Installed(), original);
    };
    auto runUpdate = [&] {  // every entry, then the commit, as a patch run does
        CUpdaterBase::ResetSharedStateForTests();
        PackEngine run(game);
        for (UpdateFileEntry& e : entries) {
            if (!run.PackFileUpdate(&e))
                return 0;
        }
        return run.ClosePackFiles();
    };
    auto expectCleanResult = [&](int killedAt) {
        SCOPED_TRACE("killed at " + std::to_string(killedAt));
        EXPECT_EQ(PackContentsAt(Installed()), expectedA);
        EXPECT_EQ(PackContentsAt(Installed(made)), patchB);
        for (auto& f : fs::recursive_directory_iterator(game + "/Data"))
            EXPECT_TRUE(!f.is_regular_file() || f.path().extension() == ".lpk") << f.path();
    };

    CPackFile::SetWriteHookForTests(CountOrDie);
    restore();
    ASSERT_EQ(runUpdate(), 1);
    const int total = g_nWrites;
    expectCleanResult(0);
    std::string header = TempDir::ReadFile(Installed());
    FlipPackHeader(header);
    ASSERT_EQ(At<uint64_t>(header, 10), 3u * 0x100000) << "the update must grow the tree area";
    // Samples of the content writes and, more densely, of the commit.
    for (int k = 1; k <= total && !HasFailure(); ++k) {
        if (k < total - 100 ? k % 19 != 1 : (k <= total - 8 && k % 5 != 0))
            continue;
        restore();
        EXPECT_EXIT((g_nWrites = 0, g_nKillAt = k, runUpdate(), std::_Exit(0)),
                    ::testing::ExitedWithCode(kKilled), "")
            << "kill point " << k;
        ASSERT_EQ(runUpdate(), 1) << "rerun after a kill at " << k;
        expectCleanResult(k);
    }
}

}  // namespace

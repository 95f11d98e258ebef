// PackFileUpdate: entries moved from the patch's pack into installed packs,
// the packs kept open across entries, creation of missing packs, and each
// failure with its code, user-log tag and notification.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "engine/pack_update_env.h"

namespace {

using namespace varntest;
namespace fs = std::filesystem;

const char* const kSound = "Data\\Sound\\Sound.lpk";

class PackUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        game = dir / "game";
        fs::create_directories(game);
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        engine.Serve(dir / "server");
        engine.SetBaseName(kPackBase);
        work = game + "/Update/" + kPackBase;
    }
    void TearDown() override {
        engine.ClosePackFiles();
        CUpdaterBase::SetCallBack(nullptr, nullptr);
    }
    void Reset() {
        CUpdaterBase::ResetSharedStateForTests();
        CUpdaterBase::SetCallBack(nullptr, RecordingCallback);
        SeenNotifications().clear();
    }
    std::string InstalledPath(const char* pack = kSound) { return DataPath(game, pack); }
    void Installed(const std::map<std::string, std::string>& files, const char* pack = kSound) {
        WritePack(InstalledPath(pack), files);
    }
    void Patch(const std::map<std::string, std::string>& files, const char* pack = kSound) {
        WritePack(DataPath(work, pack), files);
    }
    int Apply(const std::string& name, const std::string& content, uint32_t extraSize = 0,
              const char* hash = nullptr) {
        UpdateFileEntry e = PackEntry(name, hash ? hash : Fingerprint(dir.path(), content),
                                      uint32_t(content.size()) + extraSize);
        return engine.PackFileUpdate(&e);
    }
    std::string UserLogText() {
        std::string all;
        std::error_code ec;
        for (auto& f : fs::directory_iterator(game + "/Log", ec))
            all += ReadBytes(f.path());
        return all;
    }
    int Count(int code) {
        auto codes = SeenCodes();
        return int(std::count(codes.begin(), codes.end(), code));
    }

    RunTempDir dir;
    std::string game, work;
    PackEngine engine;
};

TEST(PackFileName, SplitsAtTheFirstPackComponent) {
    struct Case {
        const char* name;
        const char* pack;
        const char* inner;
    } cases[] = {
        {"Data\\Sound\\Sound.lpk\\bgm\\title.wav", "Data\\Sound\\Sound.lpk", "bgm\\title.wav"},
        {"a.lpk\\x", "a.lpk", "x"},
        {"one.lpk\\two.lpk\\f", "one.lpk", "two.lpk\\f"},
        {"Data\\Sound.lpk", "Data\\Sound.lpk", ""},
        {"Data\\A.LPK\\x", "Data\\A.LPK\\x", ""},  // the extension is case-sensitive
        {"Data\\x.lpk.bak\\y", "Data\\x.lpk.bak\\y", ""},
        {"plain\\file.txt", "plain\\file.txt", ""},
    };
    for (const Case& c : cases) {
        char pack[260], inner[260];
        CFileUpdater::GetPackFileName(c.name, pack, inner);
        EXPECT_STREQ(pack, c.pack) << c.name;
        EXPECT_STREQ(inner, c.inner) << c.name;
    }
}

TEST_F(PackUpdateTest, ReplacesTheFileAndCommitsOnClose) {
    Installed({{"bgm\\title.wav", "old"}, {"other", "keep"}});
    Patch({{"bgm\\title.wav", "new title"}});
    std::string name = std::string(kSound) + "\\BGM\\Title.wav";
    ASSERT_EQ(Apply(name, "new title"), 1);
    ASSERT_EQ(SeenNotifications().size(), 1u);
    const Seen& s = SeenNotifications()[0];
    EXPECT_EQ(s.code, NOTIFY_APPLY_FILE);
    EXPECT_EQ(s.name, name);
    EXPECT_EQ(s.index, 1);
    EXPECT_EQ(s.total, 9u);
    EXPECT_FALSE(fs::exists(work + "/tmp.uvf"));
    EXPECT_EQ(PackContentsAt(InstalledPath()).count("<unopenable>"), 1u) << "still held open";

    ASSERT_EQ(engine.ClosePackFiles(), 1);
    EXPECT_EQ(SeenCodes().back(), NOTIFY_PERCENT);
    EXPECT_EQ(CUpdaterBase::CallbackInfo().nPercent, 0u);
    EXPECT_NE(UserLogText().find("CasingUpdateEnd.... \n"), std::string::npos);
    EXPECT_EQ(
        PackContentsAt(InstalledPath()),
        (std::map<std::string, std::string>{{"bgm\\Title.wav", "new title"}, {"other", "keep"}}))
        << "the existing directory keeps its name, the file takes the new one";
}

TEST_F(PackUpdateTest, ConsecutiveEntriesOfOnePackKeepBothPacksOpen) {
    Installed({{"x", "1"}});
    Patch({{"a", "aaa"}, {"d\\b", "bb"}});
    ASSERT_EQ(Apply(std::string(kSound) + "\\a", "aaa"), 1);
    // A reopen of the patch's pack would fail now; the open one still reads.
    fs::remove(DataPath(work, kSound));
    ASSERT_EQ(Apply(std::string(kSound) + "\\d\\b", "bb"), 1);
    EXPECT_EQ(Count(NOTIFY_PERCENT), 0) << "the installed pack was not closed";
    EXPECT_EQ(SeenNotifications().back().index, 2);
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(InstalledPath()),
              (std::map<std::string, std::string>{{"x", "1"}, {"a", "aaa"}, {"d\\b", "bb"}}));
}

TEST_F(PackUpdateTest, AChangeOfPackCommitsThePreviousOne) {
    const char* other = "Data\\Map\\Map.lpk";
    Installed({{"f", "old"}});
    Installed({{"g", "old"}}, other);
    Patch({{"f", "new f"}});
    Patch({{"g", "new g"}}, other);
    ASSERT_EQ(Apply(std::string(kSound) + "\\f", "new f"), 1);
    ASSERT_EQ(Apply(std::string(other) + "\\g", "new g"), 1);
    EXPECT_EQ(Count(NOTIFY_PERCENT), 1);
    EXPECT_EQ(PackContentsAt(InstalledPath()).at("f"), "new f");
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(InstalledPath(other)).at("g"), "new g");
}

TEST_F(PackUpdateTest, AMissingPackIsCreatedWithItsDirectories) {
    const char* fresh = "Data\\New\\Deep\\New.lpk";
    Patch({{"dir\\f.bin", "fresh"}}, fresh);
    ASSERT_EQ(Apply(std::string(fresh) + "\\dir\\f.bin", "fresh"), 1);
    EXPECT_TRUE(fs::is_directory(game + "/Data/New/Deep"));
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(InstalledPath(fresh)),
              (std::map<std::string, std::string>{{"dir\\f.bin", "fresh"}}));
}

TEST_F(PackUpdateTest, AnEmptyFileIsStoredWithTheEmptyFingerprint) {
    Installed({});
    Patch({{"empty", ""}});
    EXPECT_EQ(Fingerprint(dir.path(), ""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    ASSERT_EQ(Apply(std::string(kSound) + "\\empty", ""), 1);
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(InstalledPath()), (std::map<std::string, std::string>{{"empty", ""}}));
}

TEST_F(PackUpdateTest, AnEntryWithoutAPackComponentTouchesNothing) {
    WriteBytes(game + "/Data/readme.txt", "game file");
    for (const char* name : {"Data\\readme.txt", "Data\\new.txt"}) {
        EXPECT_EQ(Apply(name, "x"), 0) << name;
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), 1205);
    }
    EXPECT_EQ(ReadBytes(game + "/Data/readme.txt"), "game file");
    EXPECT_FALSE(fs::exists(game + "/Data/new.txt"));
    EXPECT_FALSE(engine.Installed().IsFileOpen());
}

TEST_F(PackUpdateTest, ASharingViolationIsRetriedOnceAfterClosingBothPacks) {
    Installed({{"f", "old"}});
    Patch({{"f", "new"}});
    // The engine's own second object holds the installed pack.
    ASSERT_TRUE(engine.Patch().Open(InstalledPath().c_str(), nullptr, 0xA));
    ASSERT_EQ(Apply(std::string(kSound) + "\\f", "new"), 1);
    engine.ClosePackFiles();
    EXPECT_EQ(PackContentsAt(InstalledPath()).at("f"), "new");
}

TEST_F(PackUpdateTest, FailuresRecordTheirCodeTagAndNotification) {
    const std::string entry = std::string(kSound) + "\\bgm\\title.wav";
    CPackFile holder;
    struct Row {
        const char* what;
        std::function<void()> setup;
        uint32_t extraSize;
        const char* hash;
        int code;
        const char* tag;  // user-log tag, or null when none is written
        bool notified;
    } rows[] = {
        {"pack cannot be created",
         [&] {
             fs::remove_all(game + "/Data");
             WriteBytes(game + "/Data", "a file where the directory belongs");
         },
         0, nullptr, 1202, "ERROR_PACK_FILE_CREATE_FAIL(", false},
        {"installed pack unreadable", [&] { WriteBytes(InstalledPath(), "not a pack"); }, 0,
         nullptr, 1203, "ERROR_PACK_FILE_OPEN_FAIL(", false},
        {"installed pack held elsewhere",
         [&] { ASSERT_TRUE(holder.Open(InstalledPath().c_str(), nullptr, 0xA)); }, 0, nullptr, 1203,
         "ERROR_PACK_FILE_OPEN_FAIL(", false},
        {"patch pack missing", [&] { fs::remove(DataPath(work, kSound)); }, 0, nullptr, 1204,
         nullptr, false},
        {"file missing from the patch pack",
         [&] {
             Patch({{"other", "x"}});
         },
         0, nullptr, 1205, "ERROR_PACK_TEMP_SUB_FILE_OPEN_FAIL(", false},
        {"scratch file cannot be made", [&] { fs::create_directories(work + "/tmp.uvf"); }, 0,
         nullptr, 1206, "ERROR_PACK_TEMP_UVF_FILE_CRATE_FAIL(", false},
        {"patch file shorter than its entry", [] {}, 10, nullptr, 0, nullptr, true},
        {"hash mismatch", [] {}, 0, "0000000000000000000000000000000000000000", 1209,
         "ERROR_PACK_INVALID_HASH(", true},
        {"installed pack has a file where the directory belongs",
         [&] {
             Installed({{"bgm", "a file"}});
         },
         0, nullptr, 1210, "ERROR_PACK_ADD_FILE_FAIL(", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        engine.ClosePackFiles();
        holder.Close();
        Reset();
        fs::remove_all(game + "/Data");
        fs::remove_all(game + "/Log");
        fs::remove_all(work);
        Installed({{"bgm\\title.wav", "old"}});
        Patch({{"bgm\\title.wav", "new"}});
        row.setup();
        EXPECT_EQ(Apply(entry, "new", row.extraSize, row.hash), 0);
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), row.code);
        std::string log = UserLogText();
        if (row.tag) {
            EXPECT_NE(log.find(row.tag), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find("ERROR_PACK"), std::string::npos) << log;
        }
        EXPECT_EQ(Count(NOTIFY_APPLY_FILE), row.notified ? 1 : 0);
        EXPECT_FALSE(fs::is_regular_file(work + "/tmp.uvf"));
        engine.ClosePackFiles();
        holder.Close();
        if (row.notified && row.code != 1210) {
            EXPECT_EQ(PackContentsAt(InstalledPath()).at("bgm\\title.wav"), "old")
                << "a file that failed its check leaves the installed version in place";
        }
    }
}

}  // namespace

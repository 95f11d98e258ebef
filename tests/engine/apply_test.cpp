// Applying a file list: copies, configuration files, passed-over names,
// hostile names, failures, notifications.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/run_test_env.h"
#include "support/VersionFileWriter.h"

namespace {

using namespace varntest;

constexpr const char* kBase = "1.0.0.1_to_1.0.0.2";

class ApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        SeenNotifications().clear();
        CUpdaterBase::SetCallBack(nullptr, RecordingCallback);
        plat::CreateDirectoryChain(game);
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        engine.Serve(dir / "server");
        engine.InstallStopEvent();
        engine.SetBaseName(kBase);
    }
    void TearDown() override { CUpdaterBase::SetCallBack(nullptr, nullptr); }

    // Adds an entry to the list and, unless `content` is null, its file to
    // the unpacked archive.
    void Add(const std::string& dataName, uint8_t type, const char* content) {
        const uint32_t size = content ? static_cast<uint32_t>(std::strlen(content)) : 1;
        list.entries.push_back({std::string(40, 'A'), dataName, type, size});
        if (content)
            WriteText(plat::JoinDataPath(work, dataName), content);
    }
    int Apply() {
        list.updateVersion = "1.0.0.2";
        EXPECT_TRUE(list.Write(work + "/filelist.uvf"));
        return engine.UpdateVersionFile();
    }

    TempDir dir;
    std::string game = dir / "game", work = game + "/Update/" + kBase;
    RunEngine engine;
    CVersionFileWriter list;
};

// Normal files are copied, a configuration file only where the player has
// none, type-2 entries and the launcher's own files (by their bare names)
// are passed over; every entry is reported.
TEST_F(ApplyTest, AppliesEntriesByTypeAndPassesOverOwnFiles) {
    WriteText(game + "/settings.ini", "player settings");
    WriteText(game + "/Update/version.uvf", "installed record");
    Add("Data\\Map\\Deep\\level.map", 0, "map");
    Add("settings.ini", 1, "published settings");
    Add("new.ini", 1, "fresh");
    Add("readme.txt", 2, "counted only");
    Add("version.uvf", 0, "list's record");
    Add("update.uvf", 0, "x");
    Add(engine.m_szExeName, 0, "another launcher");
    Add("Data\\version.uvf", 0, "a game file of that name");

    ASSERT_EQ(1, Apply());
    EXPECT_EQ("map", ReadText(game + "/Data/Map/Deep/level.map"));
    EXPECT_EQ("player settings", ReadText(game + "/settings.ini"));
    EXPECT_EQ("fresh", ReadText(game + "/new.ini"));
    EXPECT_FALSE(plat::FileExists(game + "/readme.txt"));
    EXPECT_EQ("installed record", ReadText(game + "/Update/version.uvf"));
    EXPECT_FALSE(plat::FileExists(game + "/version.uvf"));
    EXPECT_FALSE(plat::FileExists(game + "/" + engine.m_szExeName));
    EXPECT_EQ("a game file of that name", ReadText(game + "/Data/version.uvf"));

    const int A = NOTIFY_APPLY_FILE, X = NOTIFY_EXTRACT_FILE;
    EXPECT_EQ((std::vector<int>{NOTIFY_APPLY_START, A, A, A, X, X, X, X, A}), SeenCodes());
    const auto& seen = SeenNotifications();
    ASSERT_EQ(9u, seen.size());
    EXPECT_EQ(std::string(kBase) + ".lbc", seen[0].name);
    EXPECT_EQ("settings.ini", seen[2].name);  // the player's file: kept, still reported
    EXPECT_EQ(8, seen[8].index);
    EXPECT_EQ(3u + 18u + 5u + 13u + 1u + 16u + 24u, seen[8].total);  // not the type-2 entry
    EXPECT_EQ(8, CUpdaterBase::CallbackInfo().nFileCount);
}

// Files are moved out of the unpack directory, yet one that several entries
// read reaches each of them; a read-only target is made writable and
// replaced on the second try, which reports nothing.
TEST_F(ApplyTest, RepeatedEntriesAndReadOnlyTargetsAreApplied) {
    WriteText(game + "/locked.dat", "old");
    ASSERT_TRUE(plat::SetReadOnly(game + "/locked.dat", true));
    Add("locked.dat", 0, "new");
    Add("Data\\twice.bin", 0, "same");
    Add("Data\\twice.bin", 1, "same");  // the player has it now: kept, reported
    Add("Data\\twice.bin", 0, "same");

    ASSERT_EQ(1, Apply());
    EXPECT_EQ("new", ReadText(game + "/locked.dat"));
    EXPECT_FALSE(plat::IsReadOnly(game + "/locked.dat"));
    EXPECT_EQ("same", ReadText(game + "/Data/twice.bin"));
    const int A = NOTIFY_APPLY_FILE;
    EXPECT_EQ((std::vector<int>{NOTIFY_APPLY_START, A, A, A}), SeenCodes());
}

// Each bad entry ends the list with an error after the good one before it
// and before the one after it; hostile names write nothing outside.
TEST_F(ApplyTest, BadEntriesStopTheListWithTheirErrors) {
    // name, type, content, custom error (-1: any)
    std::vector<std::tuple<const char*, uint8_t, const char*, int>> rows = {
        {"gone.txt", 0, nullptr, CUSTOM_ERROR_NORMAL_FILE_NO_SOURCE},
        {"bad.txt", 4, "unknown type", CUSTOM_ERROR_NONE}};
    for (const char* hostile :
         {"Data\\..\\..\\escaped.txt", "\\abs.txt", "/abs.txt", "C:\\drive.txt", ""})
        rows.push_back({hostile, 0, nullptr, -1});
    for (const auto& [name, type, content, custom] : rows) {
        SCOPED_TRACE(name);
        CUpdaterBase::ResetSharedStateForTests();
        std::filesystem::remove(game + "/before.txt");
        list.entries.clear();
        Add("before.txt", 0, "1");
        Add(name, type, content);
        Add("after.txt", 0, "3");
        EXPECT_EQ(0, Apply());
        if (custom < 0) {
            EXPECT_EQ(ERROR_KIND_CUSTOM, CUpdaterBase::GetLastErrorKind());
            EXPECT_NE(0, CUpdaterBase::GetLastCustomErrorCode());
        } else {
            EXPECT_EQ(custom, CUpdaterBase::GetLastCustomErrorCode());
            EXPECT_FALSE(plat::FileExists(game + "/" + name));
        }
        EXPECT_TRUE(plat::FileExists(game + "/before.txt"));
        EXPECT_FALSE(plat::FileExists(game + "/after.txt"));
        EXPECT_FALSE(plat::FileExists(dir / "escaped.txt"));
        EXPECT_FALSE(plat::FileExists("/abs.txt"));
        if (custom == CUSTOM_ERROR_NORMAL_FILE_NO_SOURCE) {  // names the missing source
            EXPECT_NE(nullptr, std::strstr(CUpdaterBase::GetLastErrorMessage(), name));
        }
    }
}

}  // namespace

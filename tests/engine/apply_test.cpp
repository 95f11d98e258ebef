// Applying a file list: copies, configuration files, passed-over names,
// hostile names, read-only targets, failures, notifications, the ticker.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/run_test_env.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/VersionFileWriter.h"

namespace {

using varntest::ReadText;
using varntest::RunEngine;
using varntest::RunTempDir;
using varntest::SeenCodes;
using varntest::SeenNotifications;
using varntest::VersionFileEntry;
using varntest::WriteText;

constexpr const char* kBase = "1.0.0.1_to_1.0.0.2";

class ApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        SeenNotifications().clear();
        game = dir / "game";
        std::filesystem::create_directories(game);
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        engine.Serve(dir / "server");
        engine.InstallStopEvent();
        engine.SetBaseName(kBase);
    }
    void TearDown() override { CUpdaterBase::SetCallBack(nullptr, nullptr); }

    std::string Unpacked(const std::string& name) { return game + "/Update/" + kBase + "/" + name; }
    // Adds a file to the unpacked archive and its entry to the list.
    void Add(const std::string& dataName, uint8_t type, const std::string& content) {
        std::string local = dataName;
        for (char& c : local)
            if (c == '\\')
                c = '/';
        WriteText(Unpacked(local), content);
        list.entries.push_back(
            {std::string(40, 'A'), dataName, type, static_cast<uint32_t>(content.size())});
    }
    int Apply() {
        list.updateVersion = "1.0.0.2";
        EXPECT_TRUE(list.Write(Unpacked("filelist.uvf")));
        return engine.UpdateVersionFile();
    }

    RunTempDir dir;
    std::string game;
    RunEngine engine;
    varntest::CVersionFileWriter list;
};

TEST_F(ApplyTest, AppliesNormalAndConfigFilesWithProgress) {
    CUpdaterBase::SetCallBack(nullptr, varntest::RecordingCallback);
    Add("Data\\Map\\Deep\\level.map", 0, "map");
    Add("settings.ini", 1, "published settings");
    Add("new.ini", 1, "fresh");
    Add("readme.txt", 2, "counted only");
    WriteText(game + "/settings.ini", "player settings");

    ASSERT_EQ(1, Apply());
    EXPECT_EQ("map", ReadText(game + "/Data/Map/Deep/level.map"));
    EXPECT_EQ("player settings", ReadText(game + "/settings.ini"));
    EXPECT_EQ("fresh", ReadText(game + "/new.ini"));
    EXPECT_FALSE(plat::FileExists(game + "/readme.txt"));

    const auto& seen = SeenNotifications();
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ(NOTIFY_APPLY_START, seen[0].code);
    EXPECT_EQ(std::string(kBase) + ".lbc", seen[0].name);
    EXPECT_EQ(NOTIFY_APPLY_FILE, seen[2].code);  // the player's file: kept, still reported
    EXPECT_EQ("settings.ini", seen[2].name);
    EXPECT_EQ(NOTIFY_EXTRACT_FILE, seen[4].code);
    EXPECT_EQ(4, seen[4].index);
    // Sizes of applied entries add up; the type-2 entry adds nothing.
    EXPECT_EQ(3u + 18u + 5u, seen[4].total);
    EXPECT_EQ(4, CUpdaterBase::CallbackInfo().nFileCount);
}

TEST_F(ApplyTest, OwnFilesArePassedOver) {
    CUpdaterBase::SetCallBack(nullptr, varntest::RecordingCallback);
    WriteText(game + "/Update/version.uvf", "installed record");
    Add("version.uvf", 0, "list's record");
    Add("update.uvf", 0, "x");
    Add(engine.m_szExeName, 0, "another launcher");
    Add("Data\\version.uvf", 0, "a game file of that name");

    ASSERT_EQ(1, Apply());
    EXPECT_EQ("installed record", ReadText(game + "/Update/version.uvf"));
    EXPECT_FALSE(plat::FileExists(game + "/version.uvf"));
    EXPECT_FALSE(plat::FileExists(game + "/" + engine.m_szExeName));
    EXPECT_EQ("a game file of that name", ReadText(game + "/Data/version.uvf"));
    EXPECT_EQ((std::vector<int>{NOTIFY_APPLY_START, NOTIFY_EXTRACT_FILE, NOTIFY_EXTRACT_FILE,
                                NOTIFY_EXTRACT_FILE, NOTIFY_APPLY_FILE}),
              SeenCodes());
}

TEST_F(ApplyTest, HostileNamesWriteNothingOutsideTheGame) {
    const char* names[] = {"..\\escaped.txt", "Data\\..\\..\\escaped.txt",
                           "\\abs.txt",       "/abs.txt",
                           "C:\\drive.txt",   ""};
    for (const char* name : names) {
        CUpdaterBase::ResetSharedStateForTests();
        list.entries.clear();
        Add("first.txt", 0, "applied before");
        list.entries.push_back({std::string(40, 'A'), name, 0, 4});
        EXPECT_EQ(0, Apply()) << name;
        EXPECT_EQ(ERROR_KIND_CUSTOM, CUpdaterBase::GetLastErrorKind()) << name;
        EXPECT_NE(0, CUpdaterBase::GetLastCustomErrorCode()) << name;
        EXPECT_TRUE(plat::FileExists(game + "/first.txt"));
    }
    EXPECT_FALSE(plat::FileExists(dir / "escaped.txt"));
    EXPECT_FALSE(plat::FileExists("/abs.txt"));
}

TEST_F(ApplyTest, FailuresStopTheListWithTheirErrors) {
    struct Row {
        const char* what;
        uint8_t type;
        bool writeSource;
        int custom;
    } rows[] = {
        {"source missing", 0, false, CUSTOM_ERROR_NORMAL_FILE_NO_SOURCE},
        {"unknown update type", 4, true, CUSTOM_ERROR_NONE},
    };
    for (const Row& r : rows) {
        CUpdaterBase::ResetSharedStateForTests();
        list.entries.clear();
        Add("before.txt", 0, "1");
        if (r.writeSource)
            Add("bad.txt", r.type, "2");
        else
            list.entries.push_back({std::string(40, 'A'), "bad.txt", r.type, 1});
        Add("after.txt", 0, "3");
        EXPECT_EQ(0, Apply()) << r.what;
        EXPECT_EQ(r.custom, CUpdaterBase::GetLastCustomErrorCode()) << r.what;
        EXPECT_TRUE(plat::FileExists(game + "/before.txt")) << r.what;
        EXPECT_FALSE(plat::FileExists(game + "/bad.txt")) << r.what;
        EXPECT_FALSE(plat::FileExists(game + "/after.txt")) << r.what;
    }
    // The source path names the missing file in the message.
    list.entries.clear();
    list.entries.push_back({std::string(40, 'A'), "gone.txt", 0, 1});
    EXPECT_EQ(0, Apply());
    EXPECT_NE(nullptr, std::strstr(CUpdaterBase::GetLastErrorMessage(), "gone.txt"));
}

TEST_F(ApplyTest, MissingListOrStopEndsWithoutApplying) {
    EXPECT_EQ(0, engine.UpdateVersionFile());  // no filelist.uvf at all

    Add("file.txt", 0, "x");
    engine.ReleaseStopEvent();  // a stop request signals and removes the event
    EXPECT_EQ(0, Apply());
    EXPECT_FALSE(plat::FileExists(game + "/file.txt"));

    // An empty list is applied successfully.
    engine.InstallStopEvent();
    list.entries.clear();
    EXPECT_EQ(1, Apply());
}

TEST(ClosingTickerTest, TicksWhileActiveAndCyclesThePercentage) {
    CUpdaterBase::ResetSharedStateForTests();
    SeenNotifications().clear();
    CUpdaterBase::SetCallBack(nullptr, varntest::RecordingCallback);
    {
        RunEngine engine;
        CUpdaterBase::CallbackInfo().nPercent = 100;
        engine.StartClosingTicker();
        // Generous bound: only the arrival is asserted, not its timing.
        for (int i = 0; i < 200 && SeenCodes().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine.StopClosingTicker();
        ASSERT_FALSE(SeenCodes().empty());
        EXPECT_EQ(NOTIFY_PERCENT, SeenCodes().front());
        EXPECT_GE(CUpdaterBase::CallbackInfo().nPercent, 1u);
        EXPECT_LE(CUpdaterBase::CallbackInfo().nPercent, 2u);
    }  // the engine's destruction ends the ticker thread
    CUpdaterBase::SetCallBack(nullptr, nullptr);
}

}  // namespace

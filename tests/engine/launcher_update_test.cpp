// The launcher's self-update inside the engine: what the old launcher hands
// over, what the copy step replaces (all or nothing) and what it refuses.
// The whole chain of processes is driven in tests/cli.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/StagedCopy.h"
#include "run_test_env.h"
#include "support/VersionFileWriter.h"
#include "support/ZipBuilder.h"

using namespace varntest;
namespace fs = std::filesystem;

namespace {

class LauncherEngine : public RunEngine {
public:
    const HandOver& Pending() const { return m_HandOver; }
};

bool Executable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

class LauncherUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        fs::create_directories(root);
        fs::create_directories(game + "/Update");
        engine.SetUpdatePath(game.c_str());
        std::snprintf(engine.m_szExeName, sizeof(engine.m_szExeName), "%s", "varn-test-launcher");
        server = engine.Serve(root);
        CVersionFileWriter published;
        published.updateName = "Varn";
        published.updateVersion = published.latestVersion = "1.0.0.1";
        published.launcherVersion = "1.0.6.2";
        ASSERT_TRUE(published.Write(root + "/update.uvf"));
        engine.SetLauncherVersion("1.0.6.1");
    }
    int CheckLauncher() { return engine.CheckLauncherVersion((root + "/update.uvf").c_str()); }
    // A launcher directory as the archive unpacks it: the program, a file
    // in a subdirectory, and clientlist.uvf naming `names`.
    void WriteLauncherDir(const std::string& dir, const std::vector<std::string>& names) {
        WriteText(dir + "/varn-test-launcher", "#!/bin/sh\nexit 0\n");
        fs::permissions(dir + "/varn-test-launcher", fs::perms::owner_exec, fs::perm_options::add);
        WriteText(dir + "/lib/core.so", "new core");
        std::string list = "[SETUP]\nFILECOUNT=" + std::to_string(names.size()) + "\n";
        for (size_t i = 0; i < names.size(); ++i)
            list += "FILE" + std::to_string(i) + "=" + names[i] + "\n";
        WriteText(dir + "/clientlist.uvf", CVersionFileWriter::Scramble(list));
    }

    TempDir dir;
    std::string game = dir / "game", root = dir / "server", source = dir / "game/Update/LAUNCHER";
    LauncherEngine engine;
    ServedProtocol* server = nullptr;
};

}  // namespace

// The new launcher starts from the update directory with the options of
// this one (the password masked in the log only) and the game directory.
TEST_F(LauncherUpdateTest, NewerLauncherIsUnpackedAndNamedAsTheSuccessor) {
    fs::create_directories(root + "/LAUNCHER");
    WriteZip(root + "/LAUNCHER/LAUNCHER_1.0.6.2.lbc",
             {{"varn-test-launcher", "#!/bin/sh\n", 8, false, 0755}, {"clientlist.uvf", "x"}});
    std::snprintf(engine.ForwardOptions(), 260, "%s", " -pass \"my secret\" -loop");

    EXPECT_EQ(CheckLauncher(), 0);
    ASSERT_TRUE(engine.HasHandOver());
    EXPECT_EQ(UPDATE_LAUNCHER_VERSION, engine.GetUpdateKind());
    EXPECT_EQ(engine.Pending().program, source + "/varn-test-launcher");
    EXPECT_EQ(engine.Pending().args,
              (std::vector<std::string>{"-pass", "my secret", "-loop", "-copy", "/" + game}));
    EXPECT_EQ(engine.Pending().command.find("secret"), std::string::npos);
    EXPECT_NE(engine.Pending().command.find("-pass **** -loop -copy /" + game), std::string::npos);
    EXPECT_TRUE(Executable(source + "/varn-test-launcher"));
    EXPECT_FALSE(fs::exists(game + "/Update/LAUNCHER.lbc"));
}

// A launcher that cannot be fetched, unpacked or started is a failure with
// its error, and leaves no launcher directory to be started later.
TEST_F(LauncherUpdateTest, LauncherThatCannotBeMadeReadyFailsTheRun) {
    EXPECT_EQ(RUN_LAUNCHER_FAILED, engine.UpdateProcess());
    EXPECT_EQ(404, CUpdaterBase::GetLastErrorCode());
    EXPECT_FALSE(fs::exists(source));

    fs::create_directories(root + "/LAUNCHER");
    WriteText(root + "/LAUNCHER/LAUNCHER_1.0.6.2.lbc", "not a zip");
    EXPECT_EQ(CheckLauncher(), 0);
    EXPECT_FALSE(fs::exists(source));

    // Unpacked, but without the program: the start failure of the copy.
    WriteZip(root + "/LAUNCHER/LAUNCHER_1.0.6.2.lbc", {{"clientlist.uvf", "x"}});
    EXPECT_EQ(CheckLauncher(), 0);
    EXPECT_FALSE(engine.HasHandOver());
    EXPECT_EQ(CUSTOM_ERROR_LAUNCHER_RUN_FOR_COPY, CUpdaterBase::GetLastCustomErrorCode());

    // Just updated and still older: refused before anything is fetched.
    server->downloads.clear();
    engine.SetLauncherReplaced(1);
    EXPECT_EQ(RUN_LAUNCHER_FAILED, engine.UpdateProcess());
    EXPECT_EQ(CUSTOM_ERROR_LAUNCHER_STILL_OLD, CUpdaterBase::GetLastCustomErrorCode());
    EXPECT_EQ(0, server->downloads["LAUNCHER/LAUNCHER_1.0.6.2.lbc"]);
}

TEST_F(LauncherUpdateTest, CopyReplacesTheListedFilesAndNamesTheInstalledLauncher) {
    WriteLauncherDir(source, {"varn-test-launcher", "lib\\core.so"});
    WriteText(game + "/varn-test-launcher", "old program");
    WriteText(game + "/lib/core.so", "old core");
    engine.SetArguments("-loop");

    ASSERT_EQ(engine.CopyLauncher(source.c_str(), game.c_str()), 1);
    EXPECT_EQ(ReadText(game + "/lib/core.so"), "new core");
    EXPECT_TRUE(Executable(game + "/varn-test-launcher"));
    ASSERT_TRUE(engine.HasHandOver());
    EXPECT_EQ(engine.Pending().program, game + "/varn-test-launcher");
    EXPECT_EQ(engine.Pending().args, (std::vector<std::string>{"-loop", "-checked", source}));
    EXPECT_TRUE(engine.Pending().restart);
}

// One bad name or one file that cannot be replaced: nothing is replaced,
// and nothing is written outside the installation.
TEST_F(LauncherUpdateTest, CopyWithABadEntryReplacesNothing) {
    WriteLauncherDir(source, {"lib\\core.so", "..\\..\\escaped", "varn-test-launcher"});
    WriteText(game + "/lib/core.so", "old core");
    EXPECT_EQ(engine.CopyLauncher(source.c_str(), game.c_str()), 0);
    EXPECT_EQ(CUSTOM_ERROR_LAUNCHER_COPY, CUpdaterBase::GetLastCustomErrorCode());
    EXPECT_EQ(ReadText(game + "/lib/core.so"), "old core");
    EXPECT_FALSE(fs::exists(game + "/varn-test-launcher"));
    EXPECT_FALSE(fs::exists(dir / "escaped"));
    EXPECT_FALSE(engine.HasHandOver());
    for (const auto& e : fs::recursive_directory_iterator(game))
        EXPECT_EQ(e.path().string().find(".varn-"), std::string::npos) << e.path();

    // An empty list restarts at once; an unreadable one is error 200.
    WriteLauncherDir(source, {});
    WriteText(game + "/varn-test-launcher", "#!/bin/sh\n");
    fs::permissions(game + "/varn-test-launcher", fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(engine.CopyLauncher(source.c_str(), game.c_str()), 1);
    fs::remove(source + "/clientlist.uvf");
    EXPECT_EQ(engine.CopyLauncher(source.c_str(), game.c_str()), 0);
    EXPECT_EQ(CUSTOM_ERROR_CLIENTLIST_DECODE, CUpdaterBase::GetLastCustomErrorCode());
}

// A move that fails half-way puts every earlier target back.
TEST(StagedCopyTest, FailedCommitRestoresEveryTarget) {
    TempDir dir;
    const std::string a = dir / "a", b = dir / "sub/b", c = dir / "c";
    WriteText(dir / "new-a", "new a");
    WriteText(dir / "new-b", "new b");
    WriteText(a, "old a");
    WriteText(b, "old b");
    {
        CStagedCopy copy;
        ASSERT_TRUE(copy.Stage(dir / "new-a", a));
        ASSERT_TRUE(copy.Stage(dir / "new-b", c));  // a new file
        ASSERT_TRUE(copy.Stage(dir / "new-b", b));
        fs::remove(b + ".varn-new");  // its move will fail
        EXPECT_FALSE(copy.Commit());
        EXPECT_EQ(copy.Count(), 0u);
    }
    EXPECT_EQ(ReadText(a), "old a");
    EXPECT_EQ(ReadText(b), "old b");
    EXPECT_FALSE(fs::exists(c));
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".varn-"), std::string::npos) << e.path();

    fs::create_directories(c);
    CStagedCopy copy;
    EXPECT_FALSE(copy.Stage(dir / "new-a", c)) << "a directory is never replaced";
}

// The patch loop and its archive steps against a local "server" directory:
// chains, reuse of a left-over archive, the reconnect on 421, full archives,
// and the ends of a run that cannot go on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/run_test_env.h"
#include "engine/run_zip.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/PublishFixture.h"
#include "support/VersionFileWriter.h"

namespace {

using varntest::ArchiveSection;
using varntest::MakeZip;
using varntest::ReadText;
using varntest::RunEngine;
using varntest::RunTempDir;
using varntest::ServedProtocol;
using varntest::WriteText;

// A game published in three versions; the player has version index 0.
class PublishedRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        ASSERT_EQ(0, fixture.Publish());
        game = fixture.Root() + "/game";
        ASSERT_EQ(0, fixture.Install(0, game));
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        server = engine.Serve(fixture.OutDir());
    }
    void ExpectVersion(int index) {
        for (const std::string& name : varntest::CPublishFixture::FileNames(index))
            EXPECT_EQ(varntest::CPublishFixture::Content(name, index), ReadText(game + "/" + name))
                << name;
    }

    varntest::CPublishFixture fixture{3};
    std::string game;
    RunEngine engine;
    ServedProtocol* server = nullptr;
};

TEST_F(PublishedRunTest, LeftOverArchiveIsReusedOnlyWhenIntact) {
    const std::string first = "1.0.0.1_to_1.0.0.2.lbc";
    const std::string second = "1.0.0.2_to_1.0.0.3.lbc";
    ASSERT_TRUE(plat::CopyFile(fixture.OutDir() + "/" + first, game + "/Update/" + first, false));
    // Same size, one byte different: the fingerprint tells it apart.
    std::string damaged = ReadText(fixture.OutDir() + "/" + second);
    damaged[damaged.size() / 2] ^= 0x5A;
    WriteText(game + "/Update/" + second, damaged);

    ASSERT_EQ(RUN_OK, engine.UpdateProcess());
    EXPECT_EQ(0, server->downloads[first]);
    EXPECT_EQ(1, server->downloads[second]);
    ExpectVersion(2);
}

TEST_F(PublishedRunTest, ClosedControlConnectionIsRetriedOnce) {
    static const char* s_reply = "";
    CUpdaterBase::SetResponseTextHook([](uint32_t* ext, char* buf, size_t size) {
        *ext = 0;
        snprintf(buf, size, "%s", s_reply);
        return true;
    });
    const std::string first = "1.0.0.1_to_1.0.0.2.lbc";
    int failures = 1;
    server->before = [&](const std::string& remote, const std::string&) {
        if (remote != first || failures-- <= 0)
            return -1;
        engine.SetLastErrorMsg(ERROR_KIND_CUSTOM, 12003, "extended", 0);
        return 0;
    };

    s_reply = "421 Service not available, closing control connection.";
    ASSERT_EQ(RUN_OK, engine.UpdateProcess());
    EXPECT_EQ(1, server->connects);
    EXPECT_EQ(2, server->downloads[first]);
    ExpectVersion(2);

    // Any other reply, or a second failure, ends the archive with 1003.
    for (const char* reply : {"550 No such file.", "421 closing"}) {
        ASSERT_EQ(0, fixture.Install(0, game));
        server->downloads.clear();
        server->connects = 0;
        failures = 2;
        s_reply = reply;
        EXPECT_EQ(RUN_PATCH_FAILED, engine.UpdateProcess()) << reply;
        EXPECT_EQ(CUSTOM_ERROR_ARCHIVE_DOWNLOAD, CUpdaterBase::GetLastCustomErrorCode());
        EXPECT_EQ(reply[0] == '4' ? 1 : 0, server->connects) << reply;
    }
    CUpdaterBase::SetResponseTextHook(nullptr);
}

// Hand-made server contents for the ends of a run.
class HandRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        game = dir / "game";
        root = dir / "server";
        std::filesystem::create_directories(game + "/Update");
        std::filesystem::create_directories(root);
        engine.SetUpdatePath(game.c_str());
        plat::SetCurrentDir(game);
        server = engine.Serve(root);
        varntest::CVersionFileWriter published;
        published.updateName = "Varn";
        published.updateVersion = published.latestVersion = "1.0.0.3";
        published.minorVersion = "unknown";
        published.primaryVersion = "1.0.0.1";
        published.endVersion = "1.0.0.1";
        ASSERT_TRUE(published.Write(root + "/update.uvf"));
    }
    void InstallRecord(const char* version) {
        varntest::CVersionFileWriter local;
        local.updateName = "Varn";
        local.updateVersion = version;
        local.minorVersion = "unknown";
        ASSERT_TRUE(local.Write(game + "/Update/version.uvf"));
    }
    // An archive whose file list records `leadsTo`.
    std::string Archive(const std::string& base, const std::string& leadsTo,
                        varntest::ZipEntries entries) {
        varntest::CVersionFileWriter list;
        list.updateName = "Varn";
        list.updateVersion = leadsTo;
        list.minorVersion = "unknown";
        for (const auto& [name, content] : entries)
            if (name.rfind("Update/", 0) != 0)
                list.entries.push_back(
                    {std::string(40, 'A'), name, 0, static_cast<uint32_t>(content.size())});
        entries.push_back({"filelist.uvf", list.Plain()});
        entries.back().second = varntest::CVersionFileWriter::Scramble(entries.back().second);
        const std::string path = root + "/" + base + ".lbc";
        EXPECT_TRUE(MakeZip(path, entries));
        return ArchiveSection(path, base + ".lbc", static_cast<int>(entries.size()));
    }

    RunTempDir dir;
    std::string game, root;
    RunEngine engine;
    ServedProtocol* server = nullptr;
};

TEST_F(HandRunTest, ArchiveThatDoesNotAdvanceTheRecordEndsTheRun) {
    InstallRecord("1.0.0.1");
    const std::string section = Archive("1.0.0.1_to_1.0.0.2", "1.0.0.1", {{"a.txt", "a"}});
    WriteText(root + "/versionlist.uvf",
              "[VERSIONLIST]\nVERSIONCOUNT=3\nVERSION0=1.0.0.3\nVERSION1=1.0.0.2\n"
              "VERSION2=1.0.0.1\n" +
                  section);
    EXPECT_EQ(RUN_PATCH_FAILED, engine.UpdateProcess());
    EXPECT_EQ(1, server->downloads["1.0.0.1_to_1.0.0.2.lbc"]);
    EXPECT_EQ(CUSTOM_ERROR_VERSION_COPY, CUpdaterBase::GetLastCustomErrorCode());
}

TEST_F(HandRunTest, GapInTheVersionListEndsTheRunCleanly) {
    InstallRecord("1.0.0.1");
    WriteText(root + "/versionlist.uvf",
              "[VERSIONLIST]\nVERSIONCOUNT=3\nVERSION0=1.0.0.3\nVERSION2=1.0.0.1\n");
    EXPECT_EQ(RUN_OK, engine.UpdateProcess());
    EXPECT_EQ(2u, server->downloads.size());  // update.uvf and versionlist.uvf only
}

TEST_F(HandRunTest, LauncherCheckReadsUpdateFileAndLetsTheRunGoOn) {
    EXPECT_EQ(0, engine.CheckLauncherVersion((game + "/Update/missing.uvf").c_str()));
    InstallRecord("1.0.0.3");
    // A newer published launcher is only logged until the launcher can
    // replace itself: the game update still runs.
    varntest::CVersionFileWriter published;
    published.updateName = "Varn";
    published.updateVersion = published.latestVersion = "1.0.0.3";
    published.launcherVersion = "9.0.0.0";
    ASSERT_TRUE(published.Write(root + "/update.uvf"));
    engine.SetLauncherVersion("1.0.6.1");
    EXPECT_EQ(1, engine.CheckLauncherVersion((root + "/update.uvf").c_str()));
    EXPECT_STREQ("9.0.0.0", engine.NewLauncherVersion());
    EXPECT_NE(UPDATE_LAUNCHER_VERSION, engine.GetUpdateKind());
    EXPECT_EQ(RUN_OK, engine.UpdateProcess());
}

TEST_F(HandRunTest, DownloadCheckNeedsSizeAndExactFingerprint) {
    const std::string path = game + "/Update/a.lbc";
    WriteText(path, "archive bytes");
    const std::string hash = varntest::Fingerprint(path);
    std::string lower = hash;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(c));
    struct Row {
        const char* what;
        std::string file, hash;
        uint32_t size;
        int expected;
    } rows[] = {
        {"valid", path, hash, 13, 1},         {"missing file", path + ".x", hash, 13, 0},
        {"wrong size", path, hash, 12, 0},    {"no expected hash", path, "", 13, 0},
        {"case differs", path, lower, 13, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.expected, engine.DownloadCheck(r.file.c_str(), r.hash.c_str(), r.size))
            << r.what;
    EXPECT_EQ(1, engine.ExistUpdateFile(path.c_str(), 0));
    EXPECT_EQ(0, engine.ExistUpdateFile((path + ".x").c_str(), 0));
}

}  // namespace

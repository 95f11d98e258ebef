// The patch loop against a hand-made local "server": the reconnect on 421,
// the ends of a run that cannot go on, and the download check.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <tuple>

#include "archive/FileHash.h"
#include "base/TransferErrors.h"
#include "engine/run_test_env.h"
#include "support/HttpServer.h"
#include "support/VersionFileWriter.h"
#include "support/ZipBuilder.h"

namespace {

using namespace varntest;

std::string Fingerprint(const std::string& path) {
    CFileHash hash;
    hash.HashFile(path.c_str());
    hash.Final();
    char text[48] = {};
    hash.ReportHash(text, REPORT_HEX);
    return text;
}

CVersionFileWriter Record(const char* version) {
    CVersionFileWriter record;
    record.updateName = "Varn", record.updateVersion = version, record.minorVersion = "unknown";
    return record;
}

// The player has 1.0.0.1; the server publishes 1.0.0.3 with a newer
// launcher, and the archive to 1.0.0.2 holds a file list that still records
// 1.0.0.1, so applying it cannot advance the record.
class HandRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        std::filesystem::create_directories(root);
        std::filesystem::create_directories(game + "/Update");
        ASSERT_TRUE(Record("1.0.0.1").Write(game + "/Update/version.uvf"));
        engine.SetUpdatePath(game.c_str());
        engine.SetLauncherVersion("9.0.0.0");  // current: no self-update here
        plat::SetCurrentDir(game);
        server = engine.Serve(root);
        CVersionFileWriter published = Record("1.0.0.3");
        published.latestVersion = "1.0.0.3";
        published.primaryVersion = published.endVersion = "1.0.0.1";
        published.launcherVersion = "9.0.0.0";
        ASSERT_TRUE(published.Write(root + "/update.uvf"));
        CVersionFileWriter list = Record("1.0.0.1");
        list.entries.push_back({std::string(40, 'A'), "a.txt", 0, 1});
        const std::string archive = root + "/" + first;
        WriteZip(archive, {{"a.txt", "a"}, {"filelist.uvf", list.Scramble(list.Plain())}});
        WriteText(root + "/versionlist.uvf",
                  "[VERSIONLIST]\nVERSIONCOUNT=3\nVERSION0=1.0.0.3\nVERSION1=1.0.0.2\n"
                  "VERSION2=1.0.0.1\n[" +
                      first + "]\nFILESIZE=" + std::to_string(std::filesystem::file_size(archive)) +
                      "\nFILECOUNT=2\nGUID=" + Fingerprint(archive) + "\nNOTCOMPRESSSIZE=100\n");
    }

    TempDir dir;
    std::string game = dir / "game", root = dir / "server";
    const std::string first = "1.0.0.1_to_1.0.0.2.lbc";
    RunEngine engine;
    ServedProtocol* server = nullptr;
};

// A failed archive download whose reply was "421 ... closing" is retried
// once after a reconnect, then applied (it cannot advance the record); any
// other reply, or a second failure, ends the archive with 1003.
TEST_F(HandRunTest, ClosedControlConnectionIsRetriedOnce) {
    static const char* s_reply = "";
    CUpdaterBase::SetResponseTextHook([](uint32_t* ext, char* buf, size_t size) {
        *ext = 0;
        snprintf(buf, size, "%s", s_reply);
        return true;
    });
    int failures = 0;
    server->before = [&](const std::string& remote) {
        if (remote != first || failures-- <= 0)
            return -1;
        engine.SetLastErrorMsg(ERROR_KIND_CUSTOM, 12003, "extended", 0);
        return 0;
    };
    // reply, failures, then the connects, downloads and custom error expected
    const std::tuple<const char*, int, int, int, int> rows[] = {
        {"421 Service not available, closing control connection.", 1, 1, 2,
         CUSTOM_ERROR_VERSION_COPY},
        {"550 No such file.", 2, 0, 1, CUSTOM_ERROR_ARCHIVE_DOWNLOAD},
        {"421 closing", 2, 1, 2, CUSTOM_ERROR_ARCHIVE_DOWNLOAD},
    };
    for (const auto& [reply, failing, connects, downloads, custom] : rows) {
        SCOPED_TRACE(reply);
        server->downloads.clear();
        server->connects = 0;
        failures = failing;
        s_reply = reply;
        EXPECT_EQ(RUN_PATCH_FAILED, engine.UpdateProcess());
        EXPECT_EQ(connects, server->connects);
        EXPECT_EQ(downloads, server->downloads[first]);
        EXPECT_EQ(custom, CUpdaterBase::GetLastCustomErrorCode());
    }
    CUpdaterBase::SetResponseTextHook(nullptr);
}

// A gap in the list ends the run cleanly; update.uvf that cannot be read
// ends the launcher check.
TEST_F(HandRunTest, GapInTheListEndsTheRunCleanly) {
    EXPECT_EQ(0, engine.CheckLauncherVersion((game + "/Update/missing.uvf").c_str()));
    WriteText(root + "/versionlist.uvf",
              "[VERSIONLIST]\nVERSIONCOUNT=3\nVERSION0=1.0.0.3\nVERSION2=1.0.0.1\n");
    EXPECT_EQ(RUN_OK, engine.UpdateProcess());
    EXPECT_EQ(2u, server->downloads.size());  // update.uvf and versionlist.uvf only
    EXPECT_NE(UPDATE_LAUNCHER_VERSION, engine.GetUpdateKind());
}

TEST_F(HandRunTest, DownloadCheckNeedsSizeAndExactFingerprint) {
    const std::string path = game + "/Update/a.lbc";
    WriteText(path, "archive bytes");
    const std::string hash = Fingerprint(path);
    std::string lower = hash;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(c));
    // file, fingerprint, size, expected
    const std::tuple<std::string, std::string, uint32_t, int> rows[] = {{path, hash, 13, 1},
                                                                        {path + ".x", hash, 13, 0},
                                                                        {path, hash, 12, 0},
                                                                        {path, "", 13, 0},
                                                                        {path, lower, 13, 0}};
    for (const auto& [file, fingerprint, size, expected] : rows)
        EXPECT_EQ(expected, engine.DownloadCheck(file.c_str(), fingerprint.c_str(), size))
            << file << " " << fingerprint << " " << size;
}

}  // namespace

// A download that failed part-way on one root and is fetched again from the
// next counts its file once in the update's total.
TEST_F(HandRunTest, FileFetchedAgainFromTheNextRootIsCountedOnce) {
    WriteText(root + "/patch/a.lbc", std::string(5000, 'a'));
    varntest::HttpServer mirror(root);
    engine.SetMirrorRoots({{"127.0.0.1", mirror.port(), "patch", TransferProtocol::HTTP}});
    server->before = [this](const std::string&) {
        CUpdaterBase::CallbackInfo().nTotalReceived += 1234;  // the bytes of the broken attempt
        engine.SetLastErrorMsg(ERROR_KIND_SYSTEM, TRANSFER_ERROR_CONNECTION_RESET, "", 0);
        return 0;
    };
    engine.InstallStopEvent();
    CUpdaterBase::CallbackInfo().nTotalReceived = 100;
    ASSERT_EQ(1, engine.FetchFile("a.lbc", (game + "/Update/a.lbc").c_str()));
    EXPECT_EQ(CUpdaterBase::CallbackInfo().nTotalReceived, 5100u);
    EXPECT_EQ(mirror.Requests("/patch/a.lbc", 1), 1);
}

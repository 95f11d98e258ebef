// Whole patch runs through CUpdateModule (the shipped library) against a
// sample game published into a patch root and served over HTTP (and, for the
// main kinds of run, FTP) on 127.0.0.1.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Profile.h"
#include "platform/Thread.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PublishFixture.h"
#include "support/TempDir.h"
#include "support/VersionFileWriter.h"
#include "updatemodule/UpdateModule.h"

namespace {

namespace fs = std::filesystem;
using varntest::CPublishFixture;
using Applied = std::vector<std::pair<std::string, std::string>>;
constexpr auto ReadText = &varntest::TempDir::ReadFile;
constexpr auto WriteText = &CPublishFixture::WriteFile;
constexpr const char* kFirst = "1.0.0.1_to_1.0.0.2";

// Notification codes of a run, in order, and the file lists applied (with the
// local version each began on); `hook` then runs on the worker. One recorder
// per process: every test runs in its own.
struct Recorder {
    std::mutex lock;
    std::vector<int> codes;
    Applied applied;
    std::function<void(int, UPDATE_CALLBACK_INFO*)> hook;

    static Recorder& Get() {
        static Recorder r;
        return r;
    }
    static void Callback(int32_t code, UPDATE_CALLBACK_INFO* info) {
        Recorder& r = Get();
        {
            std::lock_guard<std::mutex> hold(r.lock);
            r.codes.push_back(code);
            if (code == NOTIFY_APPLY_START)
                r.applied.push_back({info->szFileName, info->szMajorVersion});
        }
        if (r.hook)
            r.hook(code, info);
    }
    template <class T>
    T Copy(const T& field) {
        std::lock_guard<std::mutex> hold(lock);
        return field;
    }
};

class TestModule : public CUpdateModule {
public:
    using CUpdateModule::ApplyCommandLine;
    // The worker of the last StartUpdate ended within timeoutMs.
    bool JoinWorker(uint32_t timeoutMs) {
        return m_hThread && plat::WaitForThread(m_hThread, timeoutMs);
    }
};

class PatchRunTest : public ::testing::Test {
protected:
    // Publishes the sample game, installs version index `installed` (none
    // when negative) and serves the patch root as remote directory "patch".
    void Prepare(int installed, const std::vector<std::string>& publishOptions = {}) {
        ASSERT_EQ(0, fixture.Publish(publishOptions));
        if (installed >= 0) {
            ASSERT_EQ(0, fixture.Install(installed, game));
        }
        fs::create_directories(game + "/Update");
        int port = 0;
        if (overFtp) {
            ftpServer = std::make_unique<varntest::FtpServer>(fixture.Root());
            port = ftpServer->port();
        } else {
            server = std::make_unique<varntest::HttpServer>(fixture.Root(), serverConfig);
            port = server->port();
        }
        Recorder::Get().codes.clear(), Recorder::Get().applied.clear();
        const varntest::FtpServer::Options account;
        module.SetConnectInfo("127.0.0.1", port, overFtp ? account.user.c_str() : "",
                              overFtp ? account.password.c_str() : "", "patch", "patch", 0, false,
                              overFtp ? 1 : 0, SERVICE_TYPE_DEFAULT);
        module.SetUpdatePath(game.c_str());
        fs::current_path(game);
        module.SetLauncherVersion("1.0.6.1");
        module.SetCallBack(nullptr, &Recorder::Callback);
    }
    std::string Patch(const std::string& name) const { return fixture.OutDir() + "/" + name; }
    // The server answered `expected` requests for a patch-root file.
    void ExpectRequests(const std::string& name, int expected) const {
        const int answered = overFtp ? ftpServer->Requests("patch/" + name, expected)
                                     : server->Requests("/patch/" + name, expected);
        EXPECT_EQ(expected, answered) << name;
    }
    std::vector<int> Codes() { return Recorder::Get().Copy(Recorder::Get().codes); }
    Applied Archives() { return Recorder::Get().Copy(Recorder::Get().applied); }
    // Every file of version index is as published, except `kept`.
    void ExpectVersion(int index, const std::string& kept = "") {
        for (const std::string& name : CPublishFixture::FileNames(index))
            EXPECT_TRUE(name == kept ||
                        CPublishFixture::Content(name, index) == ReadText(game + "/" + name))
                << name << " is not as in version index " << index;
    }
    std::string LocalVersion() {
        char local[64] = {};
        module.GetMajorUpdateVersion(local, nullptr);
        return local;
    }
    void TearDown() override {
        module.CloseThread();
        Recorder::Get().hook = nullptr;
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
    }

    CPublishFixture fixture{3};
    std::string serverConfig;  // extra nginx directives, set before Prepare
    std::unique_ptr<varntest::HttpServer> server;
    bool overFtp = false;  // set before Prepare
    std::unique_ptr<varntest::FtpServer> ftpServer;
    std::string game = fixture.Root() + "/game";
    TestModule module;
};

// The main kinds of run over either protocol.
class PatchRunOverTest : public PatchRunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { overFtp = GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Protocols, PatchRunOverTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ftp" : "Http"; });

// The player's configuration is kept; read-only targets are replaced.
TEST_P(PatchRunOverTest, ChainOfTwoArchivesAdvancesTheRecordAfterEach) {
    Prepare(0, {"--config", "*.ini"});
    WriteText(game + "/settings.ini", "[COMMON]\nLEVEL=mine\n");
    for (const char* name : {"Varngame.exe", "Update/version.uvf", "Data/big.bin"})
        fs::permissions(game + "/" + name,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ("[COMMON]\nLEVEL=mine\n", ReadText(game + "/settings.ini"));
    ExpectVersion(2, "settings.ini");
    EXPECT_EQ("1.0.0.3", LocalVersion());
    EXPECT_EQ(
        (Applied{{"1.0.0.1_to_1.0.0.2.lbc", "1.0.0.1"}, {"1.0.0.2_to_1.0.0.3.lbc", "1.0.0.2"}}),
        Archives());
    EXPECT_FALSE(fs::exists(game + "/Update/versionlist.uvf"));
    EXPECT_FALSE(fs::exists(game + "/Update/1.0.0.2_to_1.0.0.3"));
    ExpectRequests("Full_Varn_1.0.0.3.lbc", 0);
}

TEST_P(PatchRunOverTest, MinorUpdateOnTheLatestVersion) {
    const std::string minorDir = fixture.Root() + "/minor";
    fs::copy(fixture.VersionDir(2), minorDir, fs::copy_options::recursive);
    WriteText(minorDir + "/Data/hotfix.txt", "hotfix");
    WriteText(minorDir + "/Varngame.exe", "hotfixed build");
    Prepare(2, {"--minor", "0.1:" + minorDir});

    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ("hotfix", ReadText(game + "/Data/hotfix.txt"));
    EXPECT_EQ("hotfixed build", ReadText(game + "/Varngame.exe"));
    char local[64] = {}, latest[64] = {};
    module.GetMinorUpdateVersion(local, latest);
    EXPECT_STREQ("0.1", local);
    EXPECT_STREQ("0.1", latest);
    ExpectRequests("minor_to_1.0.0.3_of_0.1.lbc", 1);
}

// The full archive wins once the chain is bigger, although the host does
// not allow full downloads, and unpacks over the game without removing
// anything the player has.
TEST_P(PatchRunOverTest, FullArchiveWhenTheChainIsBigger) {
    Prepare(0);
    WriteText(game + "/LauncherLog.log", "");
    ASSERT_EQ(1, module.ApplyCommandLine(" -savelog"));
    const std::string list = Patch("versionlist.uvf");
    const std::string key =
        "FULLVERSIONSIZE=" +
        *plat::ProfileText(ReadText(list)).Find("VERSIONLIST", "FULLVERSIONSIZE");
    std::string text = ReadText(list);
    WriteText(list, text.replace(text.find(key), key.size(), "FULLVERSIONSIZE=1"));
    WriteText(game + "/keep.me", "player file");
    module.SetFullVersionDownload(0);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ("player file", ReadText(game + "/keep.me"));
    EXPECT_EQ("1.0.0.3", LocalVersion());
    ExpectRequests("Full_Varn_1.0.0.3.lbc", 1);
    ExpectRequests(std::string(kFirst) + ".lbc", 0);
    std::string log;
    for (const auto& e : fs::directory_iterator(game + "/Update/Log"))
        log += ReadText(e.path().string());
    EXPECT_NE(std::string::npos, log.find("] UPDATE_FULL_VERSION Setting 1\n")) << log;
}

// A missing or damaged installation record is healed by the full archive,
// which brings its own record of the latest version.
TEST_F(PatchRunTest, MissingOrDamagedRecordHealsThroughTheFullArchive) {
    Prepare(0);
    module.SetFullVersionDownload(0);
    const std::string record = game + "/Update/version.uvf";
    fs::remove(record);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
    ExpectRequests("Full_Varn_1.0.0.3.lbc", 1);

    WriteText(record, "not a version file");
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ("1.0.0.3", LocalVersion());
    ExpectRequests("Full_Varn_1.0.0.3.lbc", 2);
    ExpectRequests(std::string(kFirst) + ".lbc", 0);
}

// Once an archive has been applied, a full update is left to the host: one
// that disallows full downloads gets "full version needed", then "failed".
TEST_F(PatchRunTest, FullUpdateNeededAfterAnArchiveEndsWithFifteenThenFourteen) {
    Prepare(0);
    module.SetFullVersionDownload(0);
    // While the first archive is applied, the service raises the oldest
    // version its incremental archives start from past the one it leads to.
    Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
        if (code != NOTIFY_APPLY_START || std::string(info->szFileName).find(kFirst) != 0)
            return;
        varntest::CVersionFileWriter published;
        published.updateName = CPublishFixture::UpdateName();
        published.updateVersion = published.latestVersion = published.endVersion = "1.0.0.3";
        published.minorVersion = "unknown";
        published.Write(game + "/Update/update.uvf");
    };
    ASSERT_EQ(1, module.StartUpdate());
    // The bound only keeps a broken run from hanging the suite; the host may
    // rely on every notification having been sent once the thread is closed.
    for (int i = 0; i < 6000 && !module.IsClosedThread(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<int> codes = Codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(NOTIFY_FULL_VERSION_NEEDED, codes[codes.size() - 2]);
    EXPECT_EQ(NOTIFY_UPDATE_FAILED, codes.back());
    ExpectRequests("Full_Varn_1.0.0.3.lbc", 0);  // not fetched against the host's will
    ExpectVersion(1);                            // the applied archive stays applied
    EXPECT_EQ("1.0.0.2", LocalVersion());
}

TEST_F(PatchRunTest, CorruptArchiveOnTheServerIsNotApplied) {
    Prepare(0);
    const std::string archive = Patch(std::string(kFirst) + ".lbc");
    std::string bytes = ReadText(archive);
    bytes[bytes.size() / 3] ^= 0x40;  // same size, different fingerprint
    WriteText(archive, bytes);

    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    EXPECT_NE(std::string::npos, std::string(module.GetLastErrorMsg()).find(kFirst));
    const std::vector<int> codes = Codes();
    EXPECT_NE(codes.end(), std::find(codes.begin(), codes.end(), NOTIFY_ERROR));
    EXPECT_EQ("1.0.0.1", LocalVersion());
    ExpectVersion(0);
    EXPECT_TRUE(Archives().empty());
}

TEST_F(PatchRunTest, InterruptedRunResumesAndReusesTheDownloadedArchive) {
    Prepare(0);
    const std::string second = "1.0.0.2_to_1.0.0.3.lbc";
    // A damaged leftover is fetched anew; the run stops once it is on disk.
    std::string damaged = ReadText(Patch(second));
    damaged[damaged.size() / 2] ^= 0x5A;  // same size, different fingerprint
    WriteText(game + "/Update/" + second, damaged);
    std::string downloading;
    Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_DOWNLOAD_START)
            downloading = info->szFileName;
        if (code == NOTIFY_DOWNLOAD_END && downloading.find(second) != std::string::npos)
            module.CloseThread();
    };
    module.UpdateRun();
    Recorder::Get().hook = nullptr;
    ExpectVersion(1);
    EXPECT_EQ("1.0.0.2", LocalVersion());
    ASSERT_TRUE(fs::exists(game + "/Update/" + second));
    ExpectRequests(second, 1);

    // The next run uses the intact archive without fetching it again.
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    ExpectRequests(second, 1);
    EXPECT_FALSE(fs::exists(game + "/Update/" + second));
}

// Killed once the last file of an archive is in place but before version.uvf
// records it: the record still names the old version, and the next run
// applies that archive again and ends whole.
TEST_F(PatchRunTest, RunKilledBeforeTheRecordAdvancesAppliesTheArchiveAgain) {
    Prepare(0);
    const std::string record = game + "/Update/version.uvf", before = ReadText(record);
    EXPECT_EXIT(
        {
            bool applying = false;
            Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
                applying = applying || code == NOTIFY_APPLY_START;
                if (applying && (code == NOTIFY_APPLY_FILE || code == NOTIFY_EXTRACT_FILE) &&
                    info->nFileIndex == info->nFileCount)
                    raise(SIGKILL);
            };
            module.UpdateRun();
        },
        ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(before, ReadText(record));
    ExpectVersion(1);

    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
    ExpectRequests(std::string(kFirst) + ".lbc", 2);
}

TEST_F(PatchRunTest, ManualArchivesAreCheckedBeforeTheyAreApplied) {
    Prepare(0);
    const std::string name = std::string(kFirst) + ".lbc";
    fs::copy_file(Patch(name), game + "/Update/" + name);
    const plat::ProfileText list(ReadText(Patch("versionlist.uvf")));
    const std::string guid = *list.Find(name, "GUID");
    const double size = std::stod(*list.Find(name, "FILESIZE"));
    const int count = std::stoi(*list.Find(name, "FILECOUNT"));
    server.reset();  // nothing is fetched on this path

    const std::string wrong(guid.size(), '0');
    module.SetUpdateManualVersion(game.c_str(), kFirst, wrong.c_str(), count, size, 1000.0);
    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    EXPECT_NE(std::string::npos, std::string(module.GetLastErrorMsg()).find(kFirst));
    ExpectVersion(0);

    const std::string record = game + "/Update/version.uvf", before = ReadText(record);
    module.SetUpdateManualVersion(game.c_str(), kFirst, guid.c_str(), count, size, 1000.0);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(1);
    const std::string advanced = ReadText(record);
    EXPECT_NE(before, advanced);
    EXPECT_FALSE(fs::exists(game + "/Update/" + name));
    EXPECT_FALSE(fs::exists(game + "/Update/" + std::string(kFirst)));
    ASSERT_EQ(1u, Archives().size());  // the one with the wrong fingerprint was not
    EXPECT_EQ(name, Archives()[0].first);
}

TEST_F(PatchRunTest, LoopModeRepeatsUntilARunFails) {
    Prepare(0);
    ASSERT_EQ(1, module.ApplyCommandLine(" -loop"));
    // Pass 1 fetches update.uvf twice and applies the chain, pass 2 has
    // nothing to do, pass 3 finds update.uvf gone and fails.
    int fetched = 0;
    Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_DOWNLOAD_START &&
            std::string(info->szFileName).find("update.uvf") != std::string::npos && ++fetched == 3)
            fs::remove(Patch("update.uvf"));
    };
    EXPECT_EQ(RUN_FAILED, module.UpdateRun());
    Recorder::Get().hook = nullptr;
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
    EXPECT_EQ(3, fetched);
    EXPECT_EQ(2u, Archives().size());  // the chain once, not again
}

// A run suspended inside a download from a slow server holds there: the
// archive on disk stops growing and no progress is reported. A stop ends a
// held run; a resumed one completes over the same connection.
TEST_F(PatchRunTest, SuspendedRunHoldsInsideTheDownloadUntilResumedOrStopped) {
    // A megabyte that does not compress makes the first archive big enough to
    // leave bytes on disk (the file is written through a large buffer).
    std::string noise(1 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : noise)
        c = static_cast<char>(random());
    for (int index : {1, 2})
        WriteText(fixture.VersionDir(index) + "/Data/noise.bin", noise);
    serverConfig = "location ~ \\.lbc$ { limit_rate 512k; }";
    Prepare(0);
    const std::string name = std::string(kFirst) + ".lbc";
    const std::string archive = game + "/Update/" + name;
    // The worker suspends itself from its callback half-way through the first
    // archive, so it is held before its next block.
    std::atomic<bool> held{false};
    Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_DOWNLOAD_PROGRESS && name == info->szFileName &&
            info->nFileReceived * 2 >= info->nFileSize && !held.exchange(true))
            module.SuspendManualUpdate();
    };
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped while held" : "resumed");
        held = false;
        ASSERT_EQ(1, module.StartUpdate());
        for (int i = 0; i < 3000 && !held; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(held);
        const size_t notified = Codes().size();
        const auto onDisk = fs::file_size(archive);
        EXPECT_GT(onDisk, 0u);
        // Long enough for the rest of the archive to arrive if nothing held it.
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ASSERT_EQ(onDisk, fs::file_size(archive));
            ASSERT_EQ(notified, Codes().size());
        }
        if (stop)
            module.CloseThread();
        else
            module.ResumeManualUpdate();
        ASSERT_TRUE(module.JoinWorker(30000));
        EXPECT_EQ(1, module.IsClosedThread());
        if (stop) {
            ExpectVersion(0);
            EXPECT_EQ("1.0.0.1", LocalVersion());
        }
    }
    EXPECT_EQ(NOTIFY_UPDATE_COMPLETE, Codes().back());
    ExpectVersion(2);
    EXPECT_TRUE(noise == ReadText(game + "/Data/noise.bin"));
    EXPECT_EQ("1.0.0.3", LocalVersion());
    ExpectRequests(name, 2);  // once per run: the held connection was kept
}

}  // namespace

// varn-patch as a program: placed in a game directory like the launcher,
// run against a patch root served on 127.0.0.1, judged by its exit code,
// its output and the game directory it leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "VarnPatchFixture.h"
#include "host/ExitCode.h"
#include "platform/Thread.h"
#include "support/FakeServer.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/MailParse.h"
#include "support/PublishFixture.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"
#include "support/VersionFileWriter.h"

// Failures explain themselves in the user's language; a mistyped option
// runs nothing.
TEST_F(VarnPatchTest, FailuresSpeakTheLocaleAndUnknownOptionsRunNothing) {
    const std::string server = "127.0.0.1:" + std::to_string(varntest::PickFreePort());
    PlaceHost("http://" + server + "/patch");
    EXPECT_EQ(Wait(Start("--bogus")), PATCH_EXIT_USAGE) << output;
    EXPECT_NE(output.find("unknown option --bogus"), std::string::npos) << output;
    EXPECT_NE(output.find("usage: varn-patch"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(game + "/Log")) << "an update ran";

    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_CONNECT_FAILED) << output;
    EXPECT_NE(output.find("varn-patch: update failed (exit 3): Could not connect to the update "
                          "server. (the patch server " +
                          server + ")"),
              std::string::npos)
        << output;

    EXPECT_EQ(Run(), PATCH_EXIT_CONNECT_FAILED) << output;  // no locale: the default bundle
    EXPECT_NE(output.find("アップデートサーバーに接続できませんでした"), std::string::npos)
        << output;

    // No server at all: nothing is recorded, yet it says why.
    varntest::TempDir::WriteFile(game + "/version.ini", "[PATH]\nPatchRoot=patch\n");
    EXPECT_EQ(Run(), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("no patch server is set"), std::string::npos) << output;
    EXPECT_EQ(output.find("no detail"), std::string::npos) << output;
}

TEST_F(VarnPatchTest, BringsAnOldInstallationUpToDateThenFindsNothingToDo) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");

    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("update complete"), std::string::npos) << output;
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;

    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(output.find("apply "), std::string::npos) << output;
    EXPECT_NE(output.find("up to date"), std::string::npos) << output;
}

// An ftp:// patch root with the account on the command line; a wrong
// password fails to connect without the password showing in the logs.
TEST_F(VarnPatchTest, PatchesOverFtpWithTheAccountGiven) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::FtpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");
    varntest::TempDir::WriteFile(game + "/LauncherLog.log", "");

    EXPECT_EQ(Wait(Start("-user varn -pass wrong-word -savelog")), PATCH_EXIT_CONNECT_FAILED)
        << output;
    ASSERT_EQ(Wait(Start("-user varn -pass secret")), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("update complete"), std::string::npos) << output;
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
    EXPECT_EQ(server.Requests("patch/1.0.0.2_to_1.0.0.3.lbc", 1), 1);
    std::string logs;
    for (const auto& e : fs::recursive_directory_iterator(game))
        if (e.is_regular_file() && e.path().extension() == ".txt")
            logs += ReadText(e.path().string());
    EXPECT_NE(logs.find("-pass **** -savelog"), std::string::npos) << logs;
    EXPECT_EQ(logs.find("wrong-word"), std::string::npos) << logs;
}

TEST_F(VarnPatchTest, InterruptStopsTheRunAndSaysSo) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish({"--store"}), 0);  // stored: the archive stays 100 KB
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root(), "limit_rate 8k;");
    PlaceHost(server.url() + "/patch");

    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 600 && ReadText(out).find("download 1.0.0.1_to_1.0.0.2.lbc") == out.npos;
         ++i)
        plat::Sleep(50);
    kill(pid, SIGINT);
    EXPECT_EQ(Run(pid), PATCH_EXIT_INTERRUPTED) << output;
    EXPECT_NE(output.find("stopped before the update completed"), std::string::npos) << output;
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
}

// A run killed in the middle of an archive leaves its start behind; the
// next run asks only for the rest and the game ends up whole.
TEST_F(VarnPatchTest, KilledDownloadIsContinuedWithARangeRequest) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish({"--store"}), 0);  // stored: the archive stays 100 KB
    ASSERT_EQ(fixture.Install(0, game), 0);
    const std::string name = "1.0.0.1_to_1.0.0.2.lbc";
    const uint64_t size = fs::file_size(fixture.OutDir() + "/" + name);
    varntest::HttpServer server(fixture.Root(), "limit_rate 32k;");
    PlaceHost(server.url() + "/patch");

    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    const std::string partial = game + "/Update/" + name;
    std::error_code ec;
    for (int i = 0; i < 600 && !(fs::file_size(partial, ec) > size / 4 && !ec); ++i)
        plat::Sleep(20);
    kill(pid, SIGKILL);
    Wait(pid);
    const uint64_t held = fs::file_size(partial, ec);
    ASSERT_TRUE(held > 0 && held < size) << held;

    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    for (const std::string& file : CPublishFixture::FileNames(1))
        EXPECT_EQ(ReadText(game + "/" + file), CPublishFixture::Content(file, 1)) << file;
    ASSERT_EQ(server.Requests(name, 2), 2);
    uint64_t served = 0;
    std::vector<std::string> archive;
    for (const std::string& line : server.DetailLog())
        if (line.ends_with(name)) {
            archive.push_back(line);
            served += std::stoull(line.substr(line.find(' ') + 1));
        }
    ASSERT_EQ(archive.size(), 2u);
    EXPECT_NE(archive[0].find(" [-] "), std::string::npos) << archive[0];
    EXPECT_TRUE(archive[1].starts_with("206 ")) << archive[1];
    EXPECT_NE(archive[1].find("[bytes=" + std::to_string(held) + "-]"), std::string::npos)
        << archive[1];
    EXPECT_LT(served, size * 12 / 10) << "served " << served << " of " << size;
}

// Further roots take over when the first cannot serve (a server error, a
// dead address), and the run stays on the one that works; a missing file
// is the publisher's fault and no reason to move on.
TEST_F(VarnPatchTest, MirrorRootsTakeOverFromFailingRootsButNotFromMissingFiles) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer failing(fixture.Root(), "location / { return 503; }");
    varntest::HttpServer good(fixture.Root());
    const std::string dead = "http://127.0.0.1:" + std::to_string(varntest::PickFreePort());
    const auto place = [&](const std::string& first, const std::string& extra) {
        PlaceHost(first);
        varntest::TempDir::WriteFile(
            game + "/version.ini",
            "[PATH]\nPatchRoot=" + first + "\nPatchRoot1=" + dead + "/patch\n" + extra);
        varntest::TempDir::WriteFile(game + "/LauncherLog.log", "");
    };

    place(good.url() + "/missing", "PatchRoot2=" + good.url() + "/patch\n");
    EXPECT_EQ(Wait(Start("-savelog")), PATCH_EXIT_FAILED) << output;
    EXPECT_EQ(good.Requests("patch/update.uvf", 0), 0);

    place(failing.url() + "/patch", "PatchRoot2=" + good.url() + "/patch\n");
    ASSERT_EQ(Wait(Start("-savelog --max-rate=64M")), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("download rate limited to 64.0 MiB/s"), std::string::npos) << output;
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
    EXPECT_EQ(failing.Requests("patch/update.uvf", 1), 1);
    EXPECT_EQ(good.Requests("patch/1.0.0.2_to_1.0.0.3.lbc", 1), 1);
    std::string logs;
    for (const auto& e : fs::recursive_directory_iterator(game))
        if (e.is_regular_file() && e.path().extension() == ".txt")
            logs += ReadText(e.path().string());
    // The root in use is named, the first one too.
    for (const auto* server : {&failing, &good})
        EXPECT_NE(logs.find("Patch Root In Use http://127.0.0.1:" + std::to_string(server->port()) +
                            "/patch"),
                  std::string::npos)
            << logs;
    // Once moved on, the run never went back to the failing root.
    EXPECT_EQ(failing.AccessLog().size(), 1u);

    EXPECT_EQ(Wait(Start("--max-rate=fast")), PATCH_EXIT_USAGE) << output;
}

namespace {

// The server offers a launcher 1.0.6.2 (the installed varn-patch is
// 1.0.6.1). The chain old -> new copy -> installed program runs in the one
// process the caller started and waits for.
class SelfUpdateTest : public VarnPatchTest {
protected:
    // Publishes the sample game with a launcher archive holding the built
    // `program` as varn-patch, installs version index 0 and serves it.
    void PublishLauncher(const std::string& program) {
        const std::string launcher = m_tmp / "launcher";
        PlaceProgram(launcher, program);
        ASSERT_EQ(fixture.Publish({"--launcher-version", "1.0.6.2", "--launcher-dir", launcher}),
                  0);
        ASSERT_EQ(fixture.Install(0, game), 0);
        server = std::make_unique<varntest::HttpServer>(fixture.Root());
        PlaceHost(server->url() + "/patch");
    }
    int RunChain(const std::string& locale = "") { return Wait(Start("", locale, true)); }
    static std::string Built(const std::string& name) {
        return ReadText(std::string(VARN_BINARY_DIR) + "/bin/" + name);
    }
    int LauncherFetches(int expected) {
        return server->Requests("/patch/LAUNCHER/LAUNCHER_1.0.6.2.lbc", expected);
    }

    CPublishFixture fixture{3};
    std::unique_ptr<varntest::HttpServer> server;
};

}  // namespace

TEST_F(SelfUpdateTest, OldProgramHandsOverAndTheNewOneFinishesTheUpdate) {
    PublishLauncher("varn-patch-next");
    // Options from PARAM go on through the chain: the copy step, started
    // from a directory without config.ini, still keeps a patch log.
    varntest::TempDir::WriteFile(game + "/config.ini", "[COMMON]\nPARAM=-savepatchlog\n");
    varntest::TempDir::WriteFile(game + "/LauncherLog.log", "");

    ASSERT_EQ(RunChain(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(ReadText(game + "/varn-patch"), Built("varn-patch-next"));
    EXPECT_NE(fs::status(game + "/varn-patch").permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_FALSE(fs::exists(game + "/Update/LAUNCHER")) << "the copy's directory stays";
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
    EXPECT_NE(output.find("a newer varn-patch was downloaded"), std::string::npos) << output;
    EXPECT_NE(output.find("the new varn-patch is installed"), std::string::npos) << output;
    EXPECT_NE(output.find("the game is up to date"), std::string::npos) << output;
    const std::string patchLog = ReadText(game + "/Update/PATCHLOG.txt");
    EXPECT_NE(patchLog.find("varn-patch Patch Success"), std::string::npos) << patchLog;
    EXPECT_EQ(LauncherFetches(1), 1);

    // The installed program is the published one: nothing more to fetch.
    ASSERT_EQ(RunChain(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(output.find("varn-patch was downloaded"), std::string::npos) << output;
}

// An archive that holds the old program again must not hand over for ever.
TEST_F(SelfUpdateTest, ProgramStillOlderAfterItsUpdateIsRefusedNotFetchedAgain) {
    PublishLauncher("varn-patch");
    ASSERT_EQ(RunChain("en_US.UTF-8"), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("still version 1.0.6.1 and the server offers 1.0.6.2"), std::string::npos)
        << output;
    EXPECT_EQ(LauncherFetches(1), 1);
    EXPECT_FALSE(fs::exists(game + "/Update/LAUNCHER"));
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
}

// Three attempts a second apart, then nothing of the new launcher is used.
TEST_F(SelfUpdateTest, FileThatCannotBeReplacedKeepsTheWholeInstalledProgram) {
    PublishLauncher("varn-patch-next");
    const std::string old = ReadText(game + "/varn-patch");
    fs::remove(game + "/Resource_Eng.ini");
    varntest::TempDir::WriteFile(game + "/Resource_Eng.ini/in-the-way", "x");

    EXPECT_EQ(RunChain(), PATCH_EXIT_NOT_STARTED) << output;
    EXPECT_NE(output.find("ランチャーのファイルを置き換えられませんでした"), std::string::npos)
        << output;
    EXPECT_EQ(ReadText(game + "/varn-patch"), old);
    for (const auto& e : fs::directory_iterator(game))
        EXPECT_EQ(e.path().string().find(".varn-"), std::string::npos) << e.path();
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
}

TEST_F(SelfUpdateTest, LauncherArchiveThatDoesNotUnpackStartsNothing) {
    PublishLauncher("varn-patch-next");
    const std::string archive = fixture.OutDir() + "/LAUNCHER/LAUNCHER_1.0.6.2.lbc";
    std::string bytes = ReadText(archive);
    for (size_t i = bytes.size() / 3; i < bytes.size() / 2; ++i)
        bytes[i] = static_cast<char>(~bytes[i]);
    varntest::TempDir::WriteFile(archive, bytes);
    const std::string old = ReadText(game + "/varn-patch");

    EXPECT_EQ(RunChain(), PATCH_EXIT_FAILED) << output;
    EXPECT_EQ(output.find("was downloaded"), std::string::npos) << output;
    EXPECT_EQ(ReadText(game + "/varn-patch"), old);
    EXPECT_FALSE(fs::exists(game + "/Update/LAUNCHER"));
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
}

// A type file that turns the login-front query on and names a server: its
// answer decides whether the patch run starts at all.
TEST_F(VarnPatchTest, LoginFrontAnswerDecidesWhetherThePatchRunStarts) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");
    std::atomic<int> asked{0};
    // Launcher 1.0.6.1 (varn-patch's own), game 1.0.0.<last>, minor 0.0.
    const auto runAgainst = [&](char last) {
        const std::string answer = {14, 0, '\x33', '\xFF', 1, 0, 6, 1, 1, 0, 0, last, 0, 0, 0, 0};
        varntest::FakeServer lf([&](varntest::FakeServer::Connection& c) {
            if (c.ReadBytes(4) == std::string("\x02\x00\x33\xFE", 4))
                ++asked, c.Send(answer);
        });
        varntest::TempDir::WriteFile(
            game + "/Update/type.uvf",
            varntest::CVersionFileWriter::Scramble(
                "[SETUP]\nLOGINFRONTUSE=1\nLOGINFRONTUSEDEFAULT=0\n[LF SERVER]\nCOUNT=1\n"
                "IP0=127.0.0.1\nPORT0=" +
                std::to_string(lf.port()) + "\n"));
        return Run();
    };

    ASSERT_EQ(runAgainst(1), PATCH_EXIT_OK) << output;  // current: nothing after update.uvf
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.Requests("/patch/update.uvf", 1), 1);
    EXPECT_EQ(server.AccessLog(1).size(), 1u);
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));

    ASSERT_EQ(runAgainst(3), PATCH_EXIT_OK) << output;  // out of date: the normal path
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(server.Requests("/patch/versionlist.uvf", 1), 1);
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
}

// An archive the server does not have mails the logs, once, to the
// support mailbox the type file names; each attachment decodes to its log
// as it stood when the mail went (lines written afterwards come later).
TEST_F(VarnPatchTest, FailedPatchMailsItsLogsToTheSupportMailbox) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    fs::remove(fixture.OutDir() + "/1.0.0.1_to_1.0.0.2.lbc");
    varntest::HttpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");
    varntest::SmtpServer mail("support", "mail-pass");
    varntest::TempDir::WriteFile(game + "/LauncherLog.log", "");
    varntest::TempDir::WriteFile(
        game + "/Update/type.uvf",
        varntest::CVersionFileWriter::Scramble(
            "[SETUP]\nSAVELOG=1\nSAVEPATCHLOG=1\nSENDLOG=1\nMAILIP=" + mail.address() +
            "\nMAILUSERNAME=support\nMAILPASS=mail-pass\nMAILADDRESS=support@x.example\n"));

    EXPECT_EQ(Run(), PATCH_EXIT_FAILED) << output;
    const auto messages = mail.Messages(1);
    ASSERT_EQ(messages.size(), 1u) << ReadText(game + "/Update/PATCHLOG.txt") << output;
    EXPECT_EQ(messages[0].to, std::vector<std::string>{"support@x.example"});
    const auto files = varntest::MailAttachments(messages[0].data);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files.at("update.uvf"), ReadText(game + "/Update/update.uvf"));
    for (const auto& [name, data] : files) {
        if (name == "update.uvf" || name == "versionlist.uvf")
            continue;
        const std::string log =
            ReadText(game + (name == "PATCHLOG.txt" ? "/Update/" : "/Update/Log/") + name);
        EXPECT_FALSE(data.empty()) << name;
        EXPECT_EQ(log.substr(0, data.size()), data) << name;
    }
    EXPECT_EQ(ReadText(game + "/Update/PATCHLOG.txt").find("MainSend Error"), std::string::npos);
}

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

namespace fs = std::filesystem;
using varntest::CPublishFixture;

namespace {

constexpr auto ReadText = varntest::TempDir::ReadFile;

class VarnPatchTest : public ::testing::Test {
protected:
    void PlaceHost(const std::string& root) {
        varntest::TempDir::WriteFile(game + "/version.ini", "[PATH]\nPatchRoot=" + root + "\n");
        PlaceProgram(game, "varn-patch");
    }
    // The program (built as `program`) and what it needs beside it, copied
    // into dir as "varn-patch": a copy, so a self-update replaces only it.
    static void PlaceProgram(const std::string& dir, const std::string& program) {
        fs::create_directories(dir);
        for (const char* name : {"varn-patch", "libvarncore.so", "libvarnplatform.so",
                                 "Resource_Jpn.ini", "Resource_Eng.ini"}) {
            const std::string built = name == std::string("varn-patch") ? program : name;
            fs::copy_file(fs::path(VARN_BINARY_DIR) / "bin" / built, fs::path(dir) / name,
                          fs::copy_options::overwrite_existing);
        }
    }
    // Runs varn-patch with the blank-separated words of `first` (and,
    // unless `handOver`, the launcher's "-checked" option, which ends a
    // self-update chain), with no locale set unless `locale` names one for
    // LANG.
    pid_t Start(const std::string& first = "", const std::string& locale = "",
                bool handOver = false) {
        const std::string exe = game + "/varn-patch", checked = game + "/Update/LAUNCHER";
        std::vector<std::string> args = {exe};
        if (!handOver)
            args.insert(args.end(), {"-checked", checked});
        size_t at = 1;
        for (size_t from = 0, to; from < first.size(); from = to + 1) {
            to = std::min(first.find(' ', from), first.size());
            args.insert(args.begin() + static_cast<long>(at++), first.substr(from, to - from));
        }
        std::vector<std::string> env = {"LANG=" + locale};
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "LC_", 3) != 0 && std::strncmp(*e, "LANG=", 5) != 0)
                env.push_back(*e);
        std::vector<char*> argv, envp;
        for (std::string& a : args)
            argv.push_back(a.data());
        for (std::string& e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            (void)!freopen("/dev/null", "r", stdin);
            (void)!freopen(out.c_str(), "w", stdout);
            dup2(fileno(stdout), 2);
            execve(exe.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }
    int Run(pid_t pid = -1) { return Wait(pid < 0 ? Start() : pid); }
    int Wait(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) < 0)
            return -1;
        output = ReadText(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    varntest::TempDir m_tmp;
    const std::string game = m_tmp / "game";
    const std::string out = m_tmp / "out.txt";
    std::string output;
};

}  // namespace

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

namespace {

uint32_t Crc32(const char* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint8_t>(p[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Changes five bytes of a stored zip entry that the sampled fingerprint
// does not read, so that the entry keeps its CRC (the last four undo the
// first one's effect on it): a valid zip with the same GUID and other
// bytes. false when the entry or such bytes are missing.
bool ChangeUnsampledBytes(const std::string& path, const std::string& entry) {
    std::string z = ReadText(path);
    const auto u32 = [&z](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, z.data() + at, 4);
        return v;
    };
    const auto u16 = [&z](size_t at) {
        uint16_t v = 0;
        std::memcpy(&v, z.data() + at, 2);
        return v;
    };
    const size_t step = z.size() / 10;
    const auto sampled = [&](size_t at) { return z.size() >= 88000 && at % step < 8000; };
    for (size_t at = z.find("PK\x01\x02"); at != std::string::npos;
         at = z.find("PK\x01\x02", at + 4)) {
        if (u16(at + 28) != entry.size() || z.compare(at + 46, entry.size(), entry) != 0)
            continue;
        const size_t local = u32(at + 42), size = u32(at + 20);
        const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
        for (size_t q = data; q + 5 <= data + size; ++q) {
            bool clear = true;
            for (size_t i = 0; i < 5; ++i)
                clear = clear && !sampled(q + i);
            if (!clear)
                continue;
            const uint32_t base = Crc32(z.data() + data, size);
            const auto effect = [&](size_t pos, uint8_t x) {
                z[pos] = static_cast<char>(z[pos] ^ x);
                const uint32_t e = Crc32(z.data() + data, size) ^ base;
                z[pos] = static_cast<char>(z[pos] ^ x);
                return e;
            };
            // Gaussian elimination over the 32 bits of bytes q+1..q+4.
            uint32_t basis[32] = {}, combo[32] = {};
            for (int i = 0; i < 32; ++i) {
                uint32_t v = effect(q + 1 + size_t(i / 8), uint8_t(1u << (i % 8)));
                uint32_t c = 1u << i;
                for (int bit = 31; bit >= 0 && v != 0; --bit) {
                    if (!(v >> bit & 1u))
                        continue;
                    if (basis[bit] == 0) {
                        basis[bit] = v, combo[bit] = c;
                        break;
                    }
                    v ^= basis[bit], c ^= combo[bit];
                }
            }
            uint32_t target = effect(q, 0x5A), bits = 0;
            for (int bit = 31; bit >= 0; --bit) {
                if (!(target >> bit & 1u))
                    continue;
                if (basis[bit] == 0)
                    return false;
                target ^= basis[bit], bits ^= combo[bit];
            }
            z[q] = static_cast<char>(z[q] ^ 0x5A);
            for (size_t k = 0; k < 4; ++k)
                z[q + 1 + k] = static_cast<char>(z[q + 1 + k] ^ (bits >> (8 * k)));
            if (Crc32(z.data() + data, size) != base)
                return false;
            varntest::TempDir::WriteFile(path, z);
            return true;
        }
    }
    return false;
}

}  // namespace

// With the publisher's public key in Update/ the game patches only from
// what the publisher signed; without it, as before.
TEST_F(VarnPatchTest, SignedRootIsEnforcedOnlyWhenTheGameHasTheKey) {
    CPublishFixture fixture(2);
    const std::string priv = fixture.Root() + "/k.pem", pub = fixture.Root() + "/k.pub";
    ASSERT_EQ(fixture.Run({"keygen", priv, pub}), 0);
    ASSERT_EQ(fixture.Publish({"--store", "--sign-key", priv}), 0);
    varntest::HttpServer server(fixture.Root());
    const auto fresh = [&](const std::string& key) {
        fs::remove_all(game);
        ASSERT_EQ(fixture.Install(0, game), 0);
        PlaceHost(server.url() + "/patch");
        if (!key.empty())
            varntest::TempDir::WriteFile(game + "/Update/publisher.key", key);
    };
    const auto untouched = [&] {
        EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
    };
    const std::string key = ReadText(pub);
    const std::string out = fixture.OutDir() + "/";

    fresh(key);
    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(ReadText(game + "/Data/big.bin"), CPublishFixture::Content("Data/big.bin", 1));

    // Bytes between the fingerprint's samples changed: same GUID, other
    // bytes. A game without an installation record takes the full archive.
    const std::string archive = out + "Full_Varn_1.0.0.2.lbc", good = ReadText(archive);
    ASSERT_TRUE(ChangeUnsampledBytes(archive, "Data/common.dat"));
    const auto bare = [&](const std::string& key) {
        fs::remove_all(game);
        PlaceHost(server.url() + "/patch");
        if (!key.empty())
            varntest::TempDir::WriteFile(game + "/Update/publisher.key", key);
    };
    bare(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("is not the one the game's publisher signed"), std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(game + "/Data/common.dat")) << "nothing applied";
    EXPECT_FALSE(fs::exists(game + "/Update/Full_Varn_1.0.0.2.lbc"));
    bare("");
    EXPECT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_NE(ReadText(game + "/Data/common.dat"), CPublishFixture::Content("Data/common.dat", 1));
    varntest::TempDir::WriteFile(archive, good);

    // A missing signature, a wrong one, a key file that is no key.
    const std::string listSig = ReadText(out + "versionlist.uvf.sig");
    fs::remove(out + "versionlist.uvf.sig");
    fresh(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("versionlist.uvf is not signed by the game's publisher"),
              std::string::npos)
        << output;
    untouched();
    varntest::TempDir::WriteFile(out + "versionlist.uvf.sig", listSig);
    varntest::TempDir::WriteFile(out + "update.uvf.sig", std::string(128, '0'));
    fresh(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("update.uvf is not signed"), std::string::npos) << output;
    untouched();
    fresh("not a key");
    EXPECT_EQ(Run(), PATCH_EXIT_FAILED) << output;
    untouched();
}

// Damage of several kinds: --verify lists exactly it and changes nothing;
// --repair puts back exactly the missing and damaged files (the player's
// configuration stays), asking the server only for parts of the archive.
TEST_F(VarnPatchTest, VerifyListsAndRepairPutsBackExactlyTheDamage) {
    CPublishFixture fixture(2);
    const std::string pack = "Data/Sound.lpk", wav = std::string(4000, 'w') + "tail";
    for (int v = 0; v < 2; ++v) {
        fixture.WriteFile(fixture.VersionDir(v) + "/" + pack + "/bgm/a.wav", wav);
        fixture.WriteFile(fixture.VersionDir(v) + "/" + pack + "/bgm/b.wav", "other");
        fixture.WriteFile(fixture.VersionDir(v) + "/Data/movie.bin", std::string(6 << 20, 'm'));
    }
    ASSERT_EQ(fixture.Publish({"--store", "--config", "*.ini", "--pack-dir", pack}), 0);
    ASSERT_EQ(fixture.Run({"install", "--version", CPublishFixture::Version(1), "--update-name",
                           "Varn", "--pack-dir", pack, fixture.VersionDir(1), game}),
              0);
    varntest::HttpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");

    const std::string common = CPublishFixture::Content("Data/common.dat", 1);
    varntest::TempDir::WriteFile(game + "/Data/common.dat", common.substr(0, 1000));
    std::string big = ReadText(game + "/Data/big.bin");
    big[big.size() / 2] ^= 1;
    varntest::TempDir::WriteFile(game + "/Data/big.bin", big);
    fs::remove(game + "/Data/Map/level1.map");
    varntest::TempDir::WriteFile(game + "/settings.ini", "[mine]\n");
    // The entry's bytes are stored XORed with one key byte.
    std::string packBytes = ReadText(game + "/" + pack);
    size_t at = std::string::npos;
    for (int k = 0; k < 256 && at == std::string::npos; ++k) {
        std::string stored = wav;
        for (char& c : stored)
            c = static_cast<char>(c ^ k);
        at = packBytes.find(stored);
    }
    ASSERT_NE(at, std::string::npos);
    packBytes[at + 2000] ^= 0x40;
    varntest::TempDir::WriteFile(game + "/" + pack, packBytes);
    const std::string damagedPack = packBytes;

    const std::vector<std::string> expected = {
        "damaged  Data\\big.bin", "damaged  Data\\common.dat", "missing  Data\\Map\\level1.map",
        "damaged  Data\\Sound.lpk\\bgm\\a.wav",
        "changed  settings.ini  (configuration file, left as it is)"};
    const auto listed = [this, &expected](const std::string& suffix) {
        std::vector<std::string> lines;
        for (size_t from = 0, to; from < output.size(); from = to + 1) {
            to = std::min(output.find('\n', from), output.size());
            const std::string line = output.substr(from, to - from);
            for (const char* kind : {"missing  ", "damaged  ", "changed  "})
                if (line.rfind(kind, 0) == 0)
                    lines.push_back(line);
        }
        std::vector<std::string> want;
        for (const std::string& e : expected)
            want.push_back(e.rfind("changed", 0) == 0 ? e : e + suffix);
        std::sort(lines.begin(), lines.end());
        std::sort(want.begin(), want.end());
        return lines == want;
    };
    EXPECT_EQ(Wait(Start("--verify")), PATCH_EXIT_DAMAGED) << output;
    EXPECT_TRUE(listed("")) << output;
    EXPECT_EQ(ReadText(game + "/" + pack), damagedPack) << "a check changes nothing";
    EXPECT_FALSE(fs::exists(game + "/Data/Map/level1.map"));
    const size_t before = server.DetailLog().size();

    EXPECT_EQ(Wait(Start("--repair")), PATCH_EXIT_OK) << output;
    EXPECT_TRUE(listed(", repaired")) << output;
    for (const std::string& name : CPublishFixture::FileNames(1))
        if (name != "settings.ini")
            EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 1)) << name;
    EXPECT_EQ(ReadText(game + "/settings.ini"), "[mine]\n");
    // Only parts of the full archive were asked for, and little of it.
    const std::string full = "Full_Varn_1.0.0.2.lbc";
    const uint64_t fullSize = fs::file_size(fixture.OutDir() + "/" + full);
    uint64_t sent = 0;
    int parts = 0;
    const std::vector<std::string> log = server.DetailLog();
    for (size_t i = before; i < log.size(); ++i) {
        if (log[i].find(full) == std::string::npos)
            continue;
        EXPECT_EQ(log[i].rfind("206 ", 0), 0u) << log[i];
        EXPECT_NE(log[i].find("[bytes="), std::string::npos) << log[i];
        sent += std::stoull(log[i].substr(4));
        ++parts;
    }
    EXPECT_GE(parts, 2);
    EXPECT_LT(sent, fullSize / 4) << sent << " of " << fullSize;

    EXPECT_EQ(Wait(Start("--verify")), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("changed  settings.ini"), std::string::npos) << output;
    EXPECT_EQ(output.find("damaged"), std::string::npos) << output;
}

// A server that does not serve ranges sends the archive whole, once; a
// root without a manifest cannot be checked, and says so.
TEST_F(VarnPatchTest, RepairWithoutRangesTakesTheArchiveWholeAndNeedsAManifest) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root(), "max_ranges 0;");
    PlaceHost(server.url() + "/patch");
    fs::remove(game + "/Varngame.exe");

    EXPECT_EQ(Wait(Start("--repair")), PATCH_EXIT_OK) << output;
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 1));
    EXPECT_EQ(server.Requests("Full_Varn_1.0.0.2.lbc", 2), 2) << "the refused part, then whole";
    EXPECT_FALSE(fs::exists(game + "/Update/Full_Varn_1.0.0.2.lbc"));

    fs::remove(fixture.OutDir() + "/manifest.uvf");
    EXPECT_EQ(Wait(Start("--verify", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("offers no list of the game's files"), std::string::npos) << output;
}

// varn-patch as a program: placed in a game directory like the launcher,
// run against a patch root served on 127.0.0.1, judged by its exit code,
// its output and the game directory it leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/ExitCode.h"
#include "platform/Thread.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PublishFixture.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using varntest::CPublishFixture;

namespace {

constexpr auto ReadText = varntest::TempDir::ReadFile;

class VarnPatchTest : public ::testing::Test {
protected:
    void PlaceHost(const std::string& root) {
        varntest::TempDir::WriteFile(game + "/version.ini", "[PATH]\nPatchRoot=" + root + "\n");
        for (const char* name :
             {"varn-patch", "libvarncore.so", "Resource_Jpn.ini", "Resource_Eng.ini"}) {
            const fs::path from = fs::path(VARN_BINARY_DIR) / "bin" / name;
            std::error_code ec;
            fs::create_hard_link(from, fs::path(game) / name, ec);
            if (ec)
                fs::copy_file(from, fs::path(game) / name, fs::copy_options::overwrite_existing);
        }
    }
    // Runs varn-patch with the blank-separated words of `first` before the
    // launcher's "-checked" option, with no locale set unless `locale` names
    // one for LANG.
    pid_t Start(const std::string& first = "", const std::string& locale = "") {
        const std::string exe = game + "/varn-patch", checked = game + "/Update/LAUNCHER";
        std::vector<std::string> args = {exe, "-checked", checked};
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

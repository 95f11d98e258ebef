// varn-patch as a program: placed in a game directory like the launcher,
// run against a patch root served on 127.0.0.1, judged by its exit code,
// its output and the game directory it leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "host/ExitCode.h"
#include "platform/Thread.h"
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
        for (const char* name : {"varn-patch", "libvarncore.so", "Resource_Jpn.ini"}) {
            const fs::path from = fs::path(VARN_BINARY_DIR) / "bin" / name;
            std::error_code ec;
            fs::create_hard_link(from, fs::path(game) / name, ec);
            if (ec)
                fs::copy_file(from, fs::path(game) / name, fs::copy_options::overwrite_existing);
        }
    }
    pid_t Start() {
        const pid_t pid = fork();
        if (pid == 0) {
            (void)!freopen("/dev/null", "r", stdin);
            (void)!freopen(out.c_str(), "w", stdout);
            dup2(fileno(stdout), 2);
            const std::string exe = game + "/varn-patch", checked = game + "/Update/LAUNCHER";
            execl(exe.c_str(), exe.c_str(), "-checked", checked.c_str(), (char*)nullptr);
            _exit(127);
        }
        return pid;
    }
    int Run(pid_t pid = -1) {
        int status = 0;
        if (waitpid(pid < 0 ? Start() : pid, &status, 0) < 0)
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

TEST_F(VarnPatchTest, UnreachableServerEndsWithTheConnectCode) {
    PlaceHost("http://127.0.0.1:" + std::to_string(varntest::PickFreePort()) + "/patch");
    EXPECT_EQ(Run(), PATCH_EXIT_CONNECT_FAILED) << output;
    EXPECT_NE(output.find("varn-patch: update failed (exit 3): "), std::string::npos) << output;
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

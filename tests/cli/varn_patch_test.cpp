// varn-patch as a program: placed in a game directory like the launcher,
// run against a patch root served on 127.0.0.1, judged by its exit code,
// its output and the game directory it leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ExitCode.h"
#include "platform/Thread.h"
#include "support/HttpServer.h"
#include "support/PublishFixture.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto ReadText = varntest::TempDir::ReadFile;

class VarnPatchTest : public ::testing::Test {
protected:
    // The installed set: the program, the core library beside it (found
    // through its $ORIGIN run path) and the language bundle.
    void PlaceHost() {
        fs::create_directories(game);
        for (const char* name : {"varn-patch", "libvarncore.so", "Resource_Jpn.ini"}) {
            const fs::path from = fs::path(VARN_BINARY_DIR) / "bin" / name;
            std::error_code ec;
            fs::create_hard_link(from, fs::path(game) / name, ec);
            if (ec) {
                fs::copy_file(from, fs::path(game) / name, fs::copy_options::overwrite_existing);
            }
        }
    }
    void SetPatchRoot(const std::string& value) {
        varntest::TempDir::WriteFile(game + "/version.ini", "[PATH]\nPatchRoot=" + value + "\n");
    }
    // Runs the program with "-checked" (so a varn-patch of another test is
    // not waited for as a second launcher); returns its exit code.
    int Run() {
        const std::string cmd = "'" + game + "/varn-patch' -checked '" + game +
                                "/Update/LAUNCHER' > '" + m_dir + "/out.txt' 2>&1 < /dev/null";
        const int status = std::system(cmd.c_str());
        output = ReadText(m_dir + "/out.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    varntest::TempDir m_tmp;
    const std::string m_dir = m_tmp.path();
    const std::string game = m_dir + "/game";
    std::string output;
};

}  // namespace

TEST_F(VarnPatchTest, UnreachableServerEndsWithTheConnectCode) {
    PlaceHost();
    SetPatchRoot("http://127.0.0.1:" + std::to_string(varntest::PickFreePort()) + "/patch");
    EXPECT_EQ(Run(), PATCH_EXIT_CONNECT_FAILED) << output;
    EXPECT_NE(output.find("varn-patch: update failed (exit 3): "), std::string::npos) << output;
}

TEST_F(VarnPatchTest, BringsAnOldInstallationUpToDateThenFindsNothingToDo) {
    varntest::CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    PlaceHost();
    varntest::HttpServer server(fixture.Root());
    SetPatchRoot(server.url() + "/patch");

    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("update complete"), std::string::npos) << output;
    for (const std::string& name : varntest::CPublishFixture::FileNames(2)) {
        EXPECT_EQ(ReadText(game + "/" + name), varntest::CPublishFixture::Content(name, 2)) << name;
    }

    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(output.find("apply "), std::string::npos) << output;
    EXPECT_NE(output.find("up to date"), std::string::npos) << output;
}

TEST_F(VarnPatchTest, InterruptStopsTheRunAndSaysSo) {
    varntest::CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish({"--store"}), 0);  // stored: the archive stays 100 KB
    ASSERT_EQ(fixture.Install(0, game), 0);
    PlaceHost();
    // Slow enough that the interrupt lands in the middle of the archive.
    varntest::HttpServer server(fixture.Root(), "limit_rate 8k;");
    SetPatchRoot(server.url() + "/patch");

    const std::string out = m_dir + "/out.txt";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen(out.c_str(), "w", stdout);
        dup2(fileno(stdout), 2);
        const std::string exe = game + "/varn-patch";
        const std::string checked = game + "/Update/LAUNCHER";
        execl(exe.c_str(), exe.c_str(), "-checked", checked.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Bounded wait for the archive download to begin.
    for (int i = 0; i < 600 && ReadText(out).find("download 1.0.0.1_to_1.0.0.2.lbc") == out.npos;
         ++i)
        plat::Sleep(50);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    output = ReadText(out);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), PATCH_EXIT_INTERRUPTED) << output;
    EXPECT_NE(output.find("stopped before the update completed"), std::string::npos) << output;
    EXPECT_EQ(ReadText(game + "/Varngame.exe"),
              varntest::CPublishFixture::Content("Varngame.exe", 0));
}

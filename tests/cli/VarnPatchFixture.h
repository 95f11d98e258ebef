// VarnPatchTest: varn-patch as a program in a game directory of its own,
// started with a command line and a locale, judged by its exit code and
// output. Shared by the test files of this folder.
#pragma once
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

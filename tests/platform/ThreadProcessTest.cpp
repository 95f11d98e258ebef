#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Error.h"
#include "platform/Event.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Thread.h"
#include "support/TempDir.h"

using namespace plat;

TEST(Event, ResetModesWakeupAndClose) {
    EventHandle manual = CreateEvent(true, false), automatic = CreateEvent(false, true);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0_CODE);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT_CODE);  // consumed
    ASSERT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0_CODE);
    EXPECT_EQ(WaitForSingleObject(manual, 20), WAIT_OBJECT_0_CODE);  // stays signalled
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 20), WAIT_TIMEOUT_CODE);

    std::atomic<uint32_t> woken{1234}, closed{1234};
    std::thread setWaiter([&, c = automatic] { woken = WaitForSingleObject(c, INFINITE_WAIT); });
    ASSERT_TRUE(SetEvent(automatic));
    setWaiter.join();
    EXPECT_EQ(woken, WAIT_OBJECT_0_CODE);
    EventHandle copy = manual;
    std::thread closeWaiter([&, c = manual] { closed = WaitForSingleObject(c, INFINITE_WAIT); });
    Sleep(20);  // most likely blocked by now; the outcome is the same if not
    CloseEvent(manual);
    closeWaiter.join();
    EXPECT_EQ(closed, WAIT_FAILED_CODE);
    EXPECT_FALSE(manual);
    EXPECT_EQ(WaitForSingleObject(copy, INFINITE_WAIT), WAIT_FAILED_CODE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE_CODE);
    EXPECT_FALSE(SetEvent(copy));
}

TEST(Thread, SuspendedStartSuspendPointAndExitCode) {
    std::atomic<int> stage{0};
    EventHandle step = CreateEvent(false, false);
    uint32_t id = 0;
    ThreadHandle t = CreateThread(
        [&] {
            stage = 1;
            WaitForSingleObject(step, INFINITE_WAIT);
            SuspendPoint();  // blocks here while suspended
            stage = 2;
            return 7u;
        },
        true, &id);
    ASSERT_TRUE(t);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_FALSE(WaitForThread(t, 30));
    EXPECT_EQ(stage, 0);  // created suspended: nothing ran
    EXPECT_EQ(ResumeThread(t), 1u);
    while (stage != 1)
        std::this_thread::yield();
    // Counted as on Win32: the previous count comes back, and only the last
    // resume lets the thread go.
    EXPECT_EQ(SuspendThread(t), 0u);
    EXPECT_EQ(SuspendThread(t), 1u);
    SetEvent(step);
    EXPECT_EQ(ResumeThread(t), 2u);
    EXPECT_FALSE(WaitForThread(t, 30));
    EXPECT_EQ(stage, 1);
    EXPECT_EQ(ResumeThread(t), 1u);
    ASSERT_TRUE(WaitForThread(t, INFINITE_WAIT));
    uint32_t code = 0;
    ASSERT_TRUE(GetThreadExitCode(t, code));
    EXPECT_EQ(code, 7u);

    CriticalSection cs;
    CriticalSectionLock outer(cs);
    CriticalSectionLock inner(cs);
}

TEST(Process, SplitCommandLineAndQuoteRoundTrip) {
    using V = std::vector<std::string>;
    struct Case {
        const char* line;
        V want;
    } cases[] = {{"", V{}},
                 {"  a   b\tc ", V{"a", "b", "c"}},
                 {"\"C:\\Program Files\\x.exe\" -copy", V{"C:\\Program Files\\x.exe", "-copy"}},
                 {"a\"b c\"d", V{"ab cd"}},
                 {"C:\\dir\\ \\\\\"q\"", V{"C:\\dir\\", "\\q"}},
                 {"\"say \"\"hi\"\"\"", V{"say \"hi\""}},
                 {"\"unterminated arg", V{"unterminated arg"}}};
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.want) << c.line;
    const V args = {"plain", "", "two words", "C:\\dir\\", "say \"hi\"", "a\\\"b", "\t", "\\\\"};
    std::string line;
    for (const auto& a : args)
        line += (line.empty() ? "" : " ") + QuoteCommandLineArg(a);
    EXPECT_EQ(SplitCommandLine(line), args) << line;
}

TEST(Process, StartWaitListTerminate) {
    uint32_t pid = 0;
    int code = -1;
    varntest::TempDir dir;
    EXPECT_FALSE(StartProcess(dir / "missing", {}, &pid));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    ASSERT_EQ(close(open((dir / "notexec").c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    EXPECT_FALSE(StartProcess(dir / "notexec", {}, &pid));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED_CODE);

    int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    std::string probe = "test -e /proc/self/fd/" + std::to_string(leaky) + " && exit 7";
    ASSERT_TRUE(StartProcess("/bin/sh", {"-c", probe}, &pid));
    close(leaky);
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 1);

    ASSERT_TRUE(
        StartProcess("/bin/sh", {"-c", "sleep 60; :", "C:\\Games\\Varn\\Varngame.exe"}, &pid));
    bool found = false, foundSelf = false;
    for (int tries = 0; tries < 200 && !found; ++tries, Sleep(10)) {
        for (const auto& p : ListProcesses()) {
            found = found || (p.pid == pid && p.exeName == "Varngame.exe");
            foundSelf = foundSelf || (p.pid == GetCurrentProcessId() &&
                                      p.exeName == "test_platform" && p.exeDir == GetModuleDir());
        }
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(foundSelf);
    ASSERT_TRUE(TerminateProcess(pid));
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 128 + SIGKILL);
    kill(-static_cast<pid_t>(pid), SIGKILL);  // the orphaned sleep
    for (uint32_t bad : {0u, 0xFFFFFFFFu, 0x80000000u})
        EXPECT_FALSE(TerminateProcess(bad)) << bad;
}

namespace {

int ProbeTempDir(const std::string& tmpdir, bool plantShared) {
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", tmpdir.c_str(), 1);
        std::string expected = tmpdir + "/varn-" + std::to_string(geteuid());
        if (plantShared && (mkdir(expected.c_str(), 0777) || chmod(expected.c_str(), 0777)))
            _exit(1);
        std::string dir = GetPrivateTempDir();
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 0777) != 0700 ||
            st.st_uid != geteuid())
            _exit(2);
        if ((dir == expected) == plantShared || dir.back() == '/')
            _exit(3);
        _exit(dir.rfind(tmpdir + "/", 0) == 0 && GetPrivateTempDir() == dir ? 0 : 4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

}  // namespace

// Programs of the game's world are Windows programs: they start through
// Wine when there is one, and fail with a clear reason when there is not.
// The desktop's opener is found the same way, on the PATH.
TEST(Process, WindowsProgramsGoThroughWineAndPagesThroughTheOpener) {
    varntest::TempDir dir;
    using varntest::TempDir;
    const std::string bin = dir / "bin", exe = dir / "Portal.exe";
    const std::string recorder =
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + dir.path() + "/${0##*/}.args\"\n";
    for (const char* tool : {"wine", "xdg-open"}) {
        TempDir::WriteFile(bin + "/" + tool, recorder);
        ASSERT_EQ(chmod((bin + "/" + tool).c_str(), 0755), 0);
    }
    TempDir::WriteFile(exe, std::string("MZ\x90\0\3\0\0\0", 8));
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", bin.c_str(), 1);
    EXPECT_EQ(FindOnPath("wine"), bin + "/wine");
    uint32_t pid = 0;
    int code = -1;
    ASSERT_TRUE(StartProgram(exe, {"-a", "b c"}, &pid));
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(TempDir::ReadFile(dir / "wine.args"), exe + "\n-a\nb c\n");

    ASSERT_TRUE(OpenInBrowser("https://www.example.jp/faq?a=1&b=2"));
    const std::string want = "https://www.example.jp/faq?a=1&b=2\n";
    for (int i = 0; i < 200 && TempDir::ReadFile(dir / "xdg-open.args") != want; ++i)
        Sleep(20);
    EXPECT_EQ(TempDir::ReadFile(dir / "xdg-open.args"), want);
    EXPECT_FALSE(OpenInBrowser("file:///etc/passwd"));
    EXPECT_FALSE(OpenInBrowser("--help"));
    EXPECT_FALSE(OpenFolder("ScreenShot"));

    setenv("PATH", (dir / "nowhere").c_str(), 1);
    EXPECT_FALSE(StartProgram(exe, {}, &pid));
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT_CODE);
    EXPECT_NE(FormatMessageText(ERROR_BAD_EXE_FORMAT_CODE).find("Wine"), std::string::npos);
    // A program of this system that merely ends in ".exe" runs as it is.
    const std::string script = dir / "Native.exe";
    TempDir::WriteFile(script, "#!/bin/sh\nexit 3\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    ASSERT_TRUE(StartProgram(script, {}, &pid));
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 3);
    setenv("PATH", path.c_str(), 1);
}

TEST(Process, PrivateTempDirIsOwnedAndClosed) {
    varntest::TempDir dir, shared;
    EXPECT_EQ(ProbeTempDir(dir.path(), false), 0);
    EXPECT_EQ(ProbeTempDir(dir.path(), false), 0);
    EXPECT_EQ(ProbeTempDir(shared.path(), true), 0);
}

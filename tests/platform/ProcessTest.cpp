#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/Error.h"
#include "platform/Process.h"

using namespace plat;

TEST(Process, SplitCommandLine) {
    using V = std::vector<std::string>;
    struct Case {
        const char* line;
        V want;
    } cases[] = {
        {"", V{}},
        {"  a   b\tc ", V{"a", "b", "c"}},
        {"\"C:\\Program Files\\Varn\\x.exe\" -copy", V{"C:\\Program Files\\Varn\\x.exe", "-copy"}},
        {"a\"b c\"d", V{"ab cd"}},
        {"\"\" x", V{"", "x"}},
        {"C:\\dir\\ \\\\\"q\"", V{"C:\\dir\\", "\\q"}},
        {"\\\"lit\\\"", V{"\"lit\""}},
        {"\"say \"\"hi\"\"\"", V{"say \"hi\""}},
        {"\"unterminated arg", V{"unterminated arg"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.want) << c.line;
    }

    // Quoting is the inverse: any argument list survives a round trip.
    const V args = {"plain", "", "two words", "C:\\dir\\", "say \"hi\"", "a\\\"b", "\t", "\\\\"};
    std::string line;
    for (const auto& a : args) {
        line += (line.empty() ? "" : " ") + QuoteCommandLineArg(a);
    }
    EXPECT_EQ(SplitCommandLine(line), args) << line;
    EXPECT_EQ(QuoteCommandLineArg("-copy"), "-copy");
}

TEST(Process, StartWaitAndFailures) {
    uint32_t pid = 0;
    ASSERT_TRUE(StartProcess("/bin/sh", {"-c", "exit 7"}, &pid));
    int code = -1;
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 7);

    // A program that cannot be executed is the caller's failure, not a
    // child that silently dies.
    TempDir dir;
    EXPECT_FALSE(StartProcess(dir / "missing", {}, &pid));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    ASSERT_EQ(close(open((dir / "notexec").c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    EXPECT_FALSE(StartProcess(dir / "notexec", {}, &pid));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED_CODE);

    // A descriptor opened without close-on-exec stays behind.
    int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    std::string probe = "test -e /proc/self/fd/" + std::to_string(leaky);
    ASSERT_TRUE(StartProcess("/bin/sh", {"-c", probe}, &pid));
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 1);
    close(leaky);
}

TEST(Process, ListFindsCompatibilityLayerNameAndTerminates) {
    uint32_t pid = 0;
    // The shell stays alive as the parent of sleep; its argument list ends
    // with the Win32-style program name, as a program run under a
    // compatibility layer shows it.
    ASSERT_TRUE(
        StartProcess("/bin/sh", {"-c", "sleep 60; :", "C:\\Games\\Varn\\Varngame.exe"}, &pid));
    bool found = false, foundSelf = false;
    for (const auto& p : ListProcesses()) {
        found = found || (p.pid == pid && p.exeName == "Varngame.exe");
        foundSelf = foundSelf || (p.pid == GetCurrentProcessId() && p.exeName == "test_platform");
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(foundSelf);

    ASSERT_TRUE(TerminateProcess(pid));
    int code = 0;
    ASSERT_TRUE(WaitForProcess(pid, INFINITE_WAIT, &code));
    EXPECT_EQ(code, 128 + SIGKILL);
    kill(-static_cast<pid_t>(pid), SIGKILL);  // the orphaned sleep

    // These would address a process group or every process if passed on.
    EXPECT_FALSE(TerminateProcess(0));
    EXPECT_FALSE(TerminateProcess(0xFFFFFFFFu));
    EXPECT_FALSE(TerminateProcess(0x80000000u));
}

TEST(Process, NamedMutexAcrossProcesses) {
    // Lock files go to the private temporary directory; under CTest this
    // process has not chosen it yet, so it lands in a directory of our own.
    TempDir dir;
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    struct Restore {
        std::string value;
        bool had;
        ~Restore() { had ? setenv("TMPDIR", value.c_str(), 1) : unsetenv("TMPDIR"); }
    } restore{saved, old != nullptr};
    const std::string name = "Global\\VarnTest/" + std::to_string(getpid());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool exists = true;
        auto held = NamedMutex::Create(name, exists);
        char ok = (held && held->Owned() && !exists) ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, 'y');

    bool exists = false;
    auto refused = NamedMutex::Create(name, exists);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(exists);
    EXPECT_FALSE(refused->Owned());

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    auto mine = NamedMutex::Create(name, exists);
    ASSERT_TRUE(mine);
    EXPECT_FALSE(exists);
    EXPECT_TRUE(mine->Owned());

    // A second holder in the same process is refused too; freeing it
    // makes the lock available again.
    auto again = NamedMutex::Create(name, exists);
    EXPECT_TRUE(exists);
    mine.reset();
    again = NamedMutex::Create(name, exists);
    EXPECT_FALSE(exists);
}

// The command line and the start-up checks: option walk and forwarded
// options, the instance lock across processes, the game wait, the "-copy"
// hand-off, and the portal start.
//
// The launcher's executable name is made unique per test process, so the
// process walk never mistakes a test running in parallel for a launcher.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "ModuleTestDir.h"
#include "engine/FileUpdater.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/Thread.h"

namespace fs = std::filesystem;

namespace {

std::vector<int32_t> g_codes;
void Record(int32_t code, UPDATE_CALLBACK_INFO*) {
    g_codes.push_back(code);
}

class TestModule : public CUpdateModule {
public:
    using CUpdateModule::ApplyCommandLine;
    using CUpdateModule::CheckProcess;
};

}  // namespace

class CommandLineTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        g_codes.clear();
        std::memcpy(m_savedExe, g_FileUpdater.m_szExeName, sizeof(m_savedExe));
        std::snprintf(g_FileUpdater.m_szExeName, sizeof(g_FileUpdater.m_szExeName),
                      "varn-cmdline-%d", static_cast<int>(getpid()));
        module = NewModule();
    }
    void TearDown() override {
        module.reset();
        for (uint32_t pid : m_children) {
            plat::TerminateProcess(pid);
            plat::WaitForProcess(pid, 10000);
        }
        std::memcpy(g_FileUpdater.m_szExeName, m_savedExe, sizeof(m_savedExe));
        g_FileUpdater.SetLoop(0);
        g_FileUpdater.SetGetLast(0);
        g_FileUpdater.ForwardOptions()[0] = '\0';
        unsetenv("VARN_REGISTRY_DIR");
        ModuleTest::TearDown();
    }
    std::unique_ptr<TestModule> NewModule() {
        auto m = std::make_unique<TestModule>();
        m->SetConnectInfo("127.0.0.1", 1, "", "", "patch", "patch", LAUNCHER_TYPE_SERVICE, true, 0,
                          SERVICE_TYPE_DEFAULT);
        m->SetUpdatePath(m_dir.c_str());
        m->SetCallBack(nullptr, Record);
        return m;
    }
    // Runs a copy of /bin/sleep under the given file name, as a game would
    // show up in the process list.
    uint32_t StartFakeProcess(const std::string& exeName) {
        const std::string exe = Path("bin/" + exeName);
        fs::create_directories(Path("bin"));
        fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
        uint32_t pid = 0;
        EXPECT_TRUE(plat::StartProcess(exe, {"60"}, &pid));
        m_children.push_back(pid);
        return pid;
    }
    static std::string Forwarded() { return g_FileUpdater.ForwardOptions(); }
    // The platform picks its private temporary directory once per process;
    // when an earlier test of this process removed it, no lock can be had.
    // (CTest runs every test in a process of its own.)
    static bool LocksWork() {
        bool exists = false;
        return plat::NamedMutex::Create("varn-cmdline-probe", exists) != nullptr;
    }

    std::unique_ptr<TestModule> module;
    std::vector<uint32_t> m_children;
    char m_savedExe[260];
};

TEST(CommandLineMerge, ParamWinsAndOwnArgumentsFollowOnlyWithoutLeadingBlank) {
    struct Case {
        const char* param;
        const char* own;
        const char* line;
    } cases[] = {
        // The own arguments after a normally quoted program path begin with
        // a blank: a PARAM line replaces them.
        {"-type s", " -loop", "-type s"},
        {"-type s", "-loop", "-type s -loop"},
        {"-type s", "", "-type s"},
        {"", " -loop -getlast", " -loop -getlast"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CUpdateModule::MergeCommandLine(c.param, c.own), c.line)
            << c.param << " | " << c.own;
    }
}

TEST_F(CommandLineTest, RecognisedOptionsAreForwardedInOrder) {
    struct Case {
        const char* line;
        const char* forward;
    } cases[] = {
        {"-saveuserlog -type s -noauth", " -type s"},
        {"-type x -loop", " -loop"},  // neither s nor t: nothing set or forwarded
        {"-updateversion \"\" -getlast", " -getlast"},
        {"-ip 127.0.0.2 -port 8080 -user u -pass \"a b\" -ftppath up/dir",
         " -ip 127.0.0.2 -port 8080 -user u -pass \"a b\" -ftppath up/dir"},
        {"-savelog -savepatchlog -nouself -name Map1 -bogus -type t",
         " -savelog -savepatchlog -nouself -type t"},
        {"-loop -port", " -loop"},  // missing value: the walk ends there
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(module->ApplyCommandLine(c.line), 1) << c.line;
        EXPECT_EQ(Forwarded(), c.forward) << c.line;
    }
}

TEST_F(CommandLineTest, OptionsReachTheEngineAndTheLoginFrontClient) {
    EnableLogs();
    ASSERT_EQ(module->ApplyCommandLine("-updateversion \"\""), 1);
    EXPECT_EQ(g_LoginFront.IsUpdateVersion(), 0);  // an empty version sets nothing

    ASSERT_EQ(module->ApplyCommandLine("-updateversion 1.0.0.3 -getlast -nouself -noauth "
                                       "-name Map1 -type t"),
              1);
    EXPECT_EQ(g_LoginFront.IsUpdateVersion(), 1);
    EXPECT_STREQ(g_LoginFront.GetUpdateVersion(), "1.0.0.3");
    EXPECT_EQ(g_LoginFront.IsGetLast(), 1);
    EXPECT_EQ(g_LoginFront.IsLoginFront(), 0);
    EXPECT_EQ(module->IsCheckAuthKey(), 0);
    EXPECT_STREQ(module->GetMapGameName(), "Map1");
    EXPECT_NE(UpdateLogText().find("g_FileUpdater.SetLauncherType(LAUNCHER_TYPE_TEST) \n"),
              std::string::npos);
    EXPECT_NE(UserLogText().find("ShowCommandLine Token [-updateversion] = [1.0.0.3]\n"),
              std::string::npos);
}

TEST_F(CommandLineTest, MissingValueStillSwitchesLoggingOnAndTakesTheLock) {
    if (!LocksWork()) {
        GTEST_SKIP() << "the private temporary directory is gone";
    }
    Write(Path("LauncherLog.log"), "");
    ASSERT_EQ(CUpdaterBase::s_nSaveLog, 0);
    ASSERT_EQ(module->ApplyCommandLine("-loop -port"), 1);
    EXPECT_EQ(CUpdaterBase::s_nSaveLog, 1);
    EXPECT_EQ(g_UpdateLogger.m_nUserLogMode, 1);
    EXPECT_EQ(g_FileUpdater.IsLoop(), 1);

    // A second launcher of the same game directory is refused.
    auto second = NewModule();
    g_codes.clear();
    EXPECT_EQ(second->ApplyCommandLine(""), 0);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_ALREADY_RUNNING);
    EXPECT_STREQ(second->GetLastErrorMsg(), "The launcher is already running.");
    EXPECT_EQ(g_codes, (std::vector<int32_t>{NOTIFY_ERROR, NOTIFY_UPDATE_FAILED}));
    EXPECT_EQ(Count(UpdateLogText(), "] Process is aleady Running.\n"), 1u);
}

TEST_F(CommandLineTest, SecondInstanceInAnotherProcessIsRefusedUntilTheFirstDies) {
    if (!LocksWork()) {
        GTEST_SKIP() << "the private temporary directory is gone";
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        const char ok = module->ApplyCommandLine("") == 1 ? '1' : '0';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, '1');

    EXPECT_EQ(module->ApplyCommandLine(""), 0);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_ALREADY_RUNNING);

    // The lock dies with its process, however it ends.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(module->ApplyCommandLine(""), 1);
}

TEST_F(CommandLineTest, RunningGameFailsAfterThreeCheckedAttempts) {
    EnableLogs();
    // Named per test process: a real "Varngame.exe" here would hold up the
    // varn-patch process tests running alongside.
    const std::string gameName = "Varngame" + std::to_string(getpid()) + ".exe";
    const uint32_t game = StartFakeProcess(gameName);
    module->SetParentProgamName(gameName.c_str());
    const std::string copyDir = Path("Update/LAUNCHER");
    Write(copyDir + "/old.bin", "x");

    EXPECT_EQ(module->ApplyCommandLine(("-checked " + copyDir).c_str()), 0);
    EXPECT_FALSE(fs::exists(copyDir));  // the launcher copy's leftovers are gone
    const std::string log = UpdateLogText();
    EXPECT_EQ(Count(log, "] " + gameName + " Running checked\n"), 3u);
    EXPECT_EQ(Count(log, "] Game is aleady Running.\n"), 1u);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_GAME_RUNNING);
    EXPECT_EQ(g_codes.back(), NOTIFY_UPDATE_FAILED);

    ASSERT_TRUE(plat::TerminateProcess(game));
    ASSERT_TRUE(plat::WaitForProcess(game, 10000));
    EXPECT_EQ(module->ApplyCommandLine(""), 1);
}

TEST_F(CommandLineTest, CheckedNeverDeletesOutsideTheGameDirectory) {
    const std::string outside = m_dir + "-outside";
    Write(outside + "/keep.txt", "x");
    const std::string line = "-checked " + m_dir + "/../" + fs::path(outside).filename().string();
    EXPECT_EQ(module->ApplyCommandLine(line.c_str()), 1);
    EXPECT_TRUE(fs::exists(outside + "/keep.txt"));
    EXPECT_EQ(module->ApplyCommandLine(("-checked " + m_dir).c_str()), 1);
    EXPECT_TRUE(fs::exists(m_dir));
    fs::remove_all(outside);
}

TEST_F(CommandLineTest, CopyAppliesEarlierOptionsEndsOthersAndTakesNoLock) {
    const std::string gameName = "VarnCopy" + std::to_string(getpid()) + ".exe";
    const uint32_t game = StartFakeProcess(gameName);
    module->SetParentProgamName(gameName.c_str());
    const std::string target = Path("game");

    EXPECT_EQ(module->ApplyCommandLine(("-loop -copy /" + target + " -type s").c_str()), 0);
    EXPECT_EQ(g_FileUpdater.IsLoop(), 1);
    EXPECT_EQ(Forwarded(), " -loop");
    EXPECT_NE(UserLogText().find("ShowCommandLine Token [-copy] = [" + target + " -type s]"),
              std::string::npos);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_LAUNCHER_COPY);
    int code = 0;
    ASSERT_TRUE(plat::WaitForProcess(game, 10000, &code));
    EXPECT_EQ(code, 128 + SIGKILL);

    auto other = NewModule();
    EXPECT_EQ(other->ApplyCommandLine(""), 1);  // the hand-off held no lock
}

TEST_F(CommandLineTest, ExecuteProgramNeedsThePortalKey) {
    setenv("VARN_REGISTRY_DIR", Path("registry").c_str(), 1);
    EXPECT_EQ(module->ExecuteProgram(), 0);
    EXPECT_STREQ(module->GetLastErrorMsg(), "Read RegPath Fail : Software\\Pellor\\Quorim");
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_EXECUTE);
    EXPECT_EQ(g_codes, std::vector<int32_t>{NOTIFY_ERROR});
}

TEST_F(CommandLineTest, ExecuteProgramStartsThePortalWithOurCommandLine) {
    setenv("VARN_REGISTRY_DIR", Path("registry").c_str(), 1);
    const std::string portal = Path("portal");
    const std::string program = portal + "/QuorimLauncher.exe";
    Write(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n");
    fs::permissions(program, fs::perms::owner_all);
    ASSERT_TRUE(plat::RegistryWriteString("Software\\Pellor\\Quorim", "Common", portal + "/"));

    ASSERT_EQ(module->ExecuteProgram(), 1);
    // The script runs on its own; wait (bounded) for what it wrote.
    for (int i = 0; i < 200 && !fs::exists(program + ".args"); ++i) {
        plat::Sleep(50);
    }
    const std::string args = Read(program + ".args");
    EXPECT_EQ(args.substr(0, args.find('\n')), plat::GetModulePath());

    // A directory without the program: the start fails and says which line.
    ASSERT_TRUE(plat::RegistryWriteString("Software\\Pellor\\Quorim", "Common", Path("none")));
    g_codes.clear();
    EXPECT_EQ(module->ExecuteProgram(), 0);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_EXECUTE);
    EXPECT_NE(std::string(module->GetLastErrorMsg()).find(Path("none/QuorimLauncher.exe")),
              std::string::npos);
    EXPECT_NE(UserLogText().find("ERROR_UPDATE_EXECUTE_FAIL ("), std::string::npos);
}

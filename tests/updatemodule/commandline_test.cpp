// The command line and the start-up checks: forwarded options, the instance
// lock across processes, the game wait, "-copy", and the portal start.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "ModuleTestDir.h"
#include "engine/FileUpdater.h"
#include "platform/Error.h"
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
};

}  // namespace

class CommandLineTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        g_codes.clear();
        std::memcpy(m_savedExe, g_FileUpdater.m_szExeName, sizeof(m_savedExe));
        // Unique per process: the process walk must not take a parallel test for a launcher.
        std::snprintf(g_FileUpdater.m_szExeName, sizeof(g_FileUpdater.m_szExeName),
                      "varn-cmdline-%d", static_cast<int>(getpid()));
        module = NewModule();
    }
    void TearDown() override {
        module.reset();
        if (m_game && plat::TerminateProcess(m_game))
            plat::WaitForProcess(m_game, 10000);
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
        if (!m_gameName.empty())
            m->SetParentProgamName(m_gameName.c_str());
        return m;
    }
    void StartFakeGame() {
        m_gameName = "Varngame" + std::to_string(getpid()) + ".exe";
        module = NewModule();
        Write(Path("bin/" + m_gameName), "");
        fs::copy_file("/bin/sleep", Path("bin/" + m_gameName),
                      fs::copy_options::overwrite_existing);
        ASSERT_TRUE(plat::StartProcess(Path("bin/" + m_gameName), {"60"}, &m_game));
    }

    std::unique_ptr<TestModule> module;
    uint32_t m_game = 0;
    std::string m_gameName;
    char m_savedExe[260];
};

TEST(CommandLineMerge, ParamWinsAndOwnArgumentsFollowOnlyWithoutLeadingBlank) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"-type s", " -loop", "-type s"},
        {"-type s", "-loop", "-type s -loop"},
        {"", " -loop -getlast", " -loop -getlast"},
    };
    for (auto [param, own, line] : cases)
        EXPECT_EQ(CUpdateModule::MergeCommandLine(param, own), line) << param << " | " << own;
}

TEST_F(CommandLineTest, RecognisedOptionsAreForwardedInOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"-saveuserlog -type s -noauth", " -type s"},
        {"-type x -loop", " -loop"},  // neither s nor t: nothing set or forwarded
        {"-updateversion \"\" -getlast", " -getlast"},
        {"-ip 127.0.0.2 -port 8080 -user u -pass \"a b\" -ftppath up/dir",
         " -ip 127.0.0.2 -port 8080 -user u -pass \"a b\" -ftppath up/dir"},
        {"-savelog -savepatchlog -nouself -name Map1 -bogus -type t",
         " -savelog -savepatchlog -nouself -type t"},
        {"-loop -port", " -loop"},  // missing value: the walk ends there
    };
    for (auto [line, forward] : cases) {
        EXPECT_EQ(module->ApplyCommandLine(line), 1) << line;
        EXPECT_EQ(std::string(g_FileUpdater.ForwardOptions()), forward) << line;
    }
    EXPECT_EQ(g_LoginFront.IsUpdateVersion(), 0);  // an empty version set nothing
}

TEST_F(CommandLineTest, SecondInstanceInAnotherProcessIsRefusedUntilTheFirstDies) {
    bool exists = false;
    if (!plat::NamedMutex::Create("varn-cmdline-probe", exists))
        GTEST_SKIP() << "the private temporary directory is gone";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char ok = module->ApplyCommandLine("") == 1 ? '1' : '0';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_TRUE(read(ready[0], &ok, 1) == 1 && ok == '1');

    EXPECT_EQ(module->ApplyCommandLine(""), 0);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_ALREADY_RUNNING);
    EXPECT_STREQ(module->GetLastErrorMsg(), "The launcher is already running.");
    EXPECT_EQ(g_codes, (std::vector<int32_t>{NOTIFY_ERROR, NOTIFY_UPDATE_FAILED}));

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(module->ApplyCommandLine(""), 1);
}

// Only launchers of this installation count: one of the same name in another
// game directory neither blocks this one nor is waited for.
TEST_F(CommandLineTest, ALauncherOfAnotherInstallationIsNoConcern) {
    EnableLogs();
    const std::string other = Path("other/" + plat::GetModuleFileName());
    fs::create_directories(Path("other"));
    fs::copy_file("/bin/sleep", other);
    uint32_t pid = 0;
    ASSERT_TRUE(plat::StartProcess(other, {"60"}, &pid));
    bool listed = false;
    for (int i = 0; i < 200 && !listed; ++i, plat::Sleep(10))
        for (const plat::ProcessEntry& p : plat::ListProcesses())
            listed = listed || (p.pid == pid && p.exeDir == Path("other"));
    EXPECT_TRUE(listed);
    EXPECT_EQ(module->ApplyCommandLine(""), 1);
    EXPECT_EQ(Count(UpdateLogText(), " Running checked\n"), 0u);
    plat::TerminateProcess(pid);
    plat::WaitForProcess(pid, 10000, nullptr);
}

TEST_F(CommandLineTest, RunningGameFailsThreeCheckedAttemptsAndCopyEndsIt) {
    EnableLogs();
    StartFakeGame();
    const std::string copyDir = Path("Update/LAUNCHER");
    Write(copyDir + "/old.bin", "x");
    EXPECT_EQ(module->ApplyCommandLine(("-checked " + copyDir).c_str()), 0);
    EXPECT_FALSE(fs::exists(copyDir));  // the launcher copy's leftovers are gone
    EXPECT_EQ(Count(UpdateLogText(), " Running checked\n"), 3u);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_GAME_RUNNING);
    EXPECT_EQ(g_codes.back(), NOTIFY_UPDATE_FAILED);

    // A copy onto the program's own directory would leave no launcher.
    module = NewModule();
    EXPECT_EQ(module->ApplyCommandLine(("-copy /" + plat::GetModuleDir()).c_str()), 0);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_LAUNCHER_COPY);
    module = NewModule();
    EXPECT_EQ(module->ApplyCommandLine(("-loop -copy /" + m_dir).c_str()), 0);
    EXPECT_EQ(g_FileUpdater.IsLoop(), 1);
    EXPECT_STREQ(g_FileUpdater.ForwardOptions(), " -loop");
    EXPECT_STREQ(g_FileUpdater.Arguments(), " -loop");
    // No clientlist.uvf beside this program: the copy step itself fails.
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CLIENTLIST_DECODE);
    int code = 0;
    ASSERT_TRUE(plat::WaitForProcess(m_game, 10000, &code));
    EXPECT_EQ(code, 128 + SIGKILL);
    EXPECT_EQ(NewModule()->ApplyCommandLine(""), 1);

    const std::string outside = m_dir + "-outside";
    Write(outside + "/keep.txt", "x");
    const std::string line = "-checked " + m_dir + "/../" + fs::path(outside).filename().string();
    EXPECT_EQ(NewModule()->ApplyCommandLine(line.c_str()), 1);
    EXPECT_TRUE(fs::exists(outside + "/keep.txt"));
    fs::remove_all(outside);
    EXPECT_EQ(NewModule()->ApplyCommandLine(("-checked " + m_dir).c_str()), 1);
    EXPECT_TRUE(fs::exists(m_dir));
}

TEST_F(CommandLineTest, ExecuteProgramStartsThePortalNamedInTheRegistry) {
    setenv("VARN_REGISTRY_DIR", Path("registry").c_str(), 1);
    EXPECT_EQ(module->ExecuteProgram(), 0);
    EXPECT_STREQ(module->GetLastErrorMsg(), "Read RegPath Fail : Software\\Pellor\\Quorim");
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_EXECUTE);
    EXPECT_EQ(g_codes, std::vector<int32_t>{NOTIFY_ERROR});

    const std::string program = Path("portal/QuorimLauncher.exe");
    Write(program,
          "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && /bin/mv \"$0.tmp\" \"$0.args\"\n");
    fs::permissions(program, fs::perms::owner_all);
    ASSERT_TRUE(plat::RegistryWriteString("Software\\Pellor\\Quorim", "Common", Path("portal/")));
    ASSERT_EQ(module->ExecuteProgram(), 1);
    for (int i = 0; i < 200 && !fs::exists(program + ".args"); ++i)
        plat::Sleep(50);
    const std::string args = Read(program + ".args");
    EXPECT_EQ(args.substr(0, args.find('\n')), plat::GetModulePath());

    // A real Windows portal where there is no Wine: the reason comes first.
    Write(program, std::string("MZ\x90\0", 4));
    const std::string path = getenv("PATH");
    setenv("PATH", Path("nowhere").c_str(), 1);
    EXPECT_EQ(module->ExecuteProgram(), 0);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(std::string(module->GetLastErrorMsg())
                  .rfind(plat::FormatMessageText(plat::ERROR_BAD_EXE_FORMAT_CODE), 0),
              0u)
        << module->GetLastErrorMsg();

    // The prefix the type file names (the one the DirectX check reads) is
    // the one Wine runs the portal in.
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    Write(plain, "[SETUP]\r\nWINEPREFIX=wine\r\n");
    Write(Path("bin/wine"),
          "#!/bin/sh\necho \"$WINEPREFIX\" > \"$0.tmp\" && /bin/mv \"$0.tmp\" \"$0.env\"\n");
    fs::permissions(Path("bin/wine"), fs::perms::owner_all);
    setenv("PATH", Path("bin").c_str(), 1);
    EXPECT_EQ(module->ExecuteProgram(), 1);
    setenv("PATH", path.c_str(), 1);
    for (int i = 0; i < 200 && !fs::exists(Path("bin/wine.env")); ++i)
        plat::Sleep(50);
    EXPECT_EQ(Read(Path("bin/wine.env")), Path("wine") + "\n");
}

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "platform/Path.h"

using namespace plat;

TEST(Path, DataNamesJoinAndStayInside) {
    struct Join {
        const char *dir, *name, *want;
    } joins[] = {
        {"/game", "Data\\Map\\a.bin", "/game/Data/Map/a.bin"},
        {"/game/", "a.bin", "/game/a.bin"},
        {"/", "a", "/a"},
        {"", "Data\\x", "Data/x"},
    };
    for (const auto& j : joins) {
        EXPECT_EQ(JoinDataPath(j.dir, j.name), j.want) << j.dir << " + " << j.name;
    }
    EXPECT_EQ(JoinPath("/game//", "/Update"), "/game/Update");

    struct Safe {
        const char* name;
        bool safe;
    } names[] = {
        {"a.bin", true},
        {"Data\\Map\\a.bin", true},
        {"x/y", true},
        {"..a\\b..", true},
        {"", false},
        {"\\abs", false},
        {"/abs", false},
        {"C:\\x", false},
        {"c:x", false},
        {"..", false},
        {"a\\..\\..\\b", false},
        {"a/../b", false},
        {"Data\\..", false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(IsSafeRelativeName(n.name), n.safe) << n.name;
    }

    EXPECT_EQ(DirName("Data\\Map\\a.bin"), "Data\\Map");
    EXPECT_EQ(DirName("/game/x"), "/game");
    EXPECT_EQ(DirName("plain"), "");
    EXPECT_EQ(BaseName("C:\\Games\\Varngame.exe"), "Varngame.exe");
    EXPECT_EQ(BaseName("/a/b"), "b");
}

namespace {

// The temporary directory is chosen once per process, so each scenario runs
// in a child that sets its own environment first. Returns the child's
// verdict: 0 when the chosen directory is private and where expected.
int ProbeTempDir(const std::string& tmpdir, bool plantShared, bool expectDefault) {
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", tmpdir.c_str(), 1);
        std::string expected = tmpdir + "/varn-" + std::to_string(geteuid());
        if (plantShared) {
            mkdir(expected.c_str(), 0777);
            chmod(expected.c_str(), 0777);
        }
        std::string dir = GetPrivateTempDir();
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            _exit(1);
        }
        if ((st.st_mode & 0777) != 0700 || st.st_uid != geteuid()) {
            _exit(2);
        }
        if ((dir == expected) != expectDefault || dir.back() == '/') {
            _exit(3);
        }
        if (dir.rfind(tmpdir + "/", 0) != 0 || GetPrivateTempDir() != dir) {
            _exit(4);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

}  // namespace

TEST(Path, PrivateTempDirIsOwnedAndClosed) {
    TempDir dir;
    EXPECT_EQ(ProbeTempDir(dir.path(), false, true), 0);
    // Second run finds the directory made by the first and keeps it.
    EXPECT_EQ(ProbeTempDir(dir.path(), false, true), 0);
    TempDir shared;
    EXPECT_EQ(ProbeTempDir(shared.path(), true, false), 0);
}

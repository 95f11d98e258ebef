#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/TempDir.h"

using namespace plat;
using varntest::TempDir;

TEST(Error, MapsErrnoTextsAndIsPerThread) {
    const std::pair<int, uint32_t> cases[] = {
        {EBUSY, 32}, {EPERM, 5}, {ENOSPC, 112}, {ENAMETOOLONG, 206}, {12345, 31}};
    for (auto [err, code] : cases)
        EXPECT_EQ(Win32FromErrno(err), code) << err;
    EXPECT_EQ(FormatMessageText(2), "The system cannot find the file specified.");
    EXPECT_EQ(FormatMessageText(5), "Access is denied.");
    SetLastError(183);
    uint32_t seen = 1;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 183u);
}

TEST(File, FailuresReportWin32Codes) {
    TempDir dir;
    TempDir::WriteFile(dir / "src", "data");
    TempDir::WriteFile(dir / "ro", "old");
    ASSERT_TRUE(SetReadOnly(dir / "ro", true));
    EXPECT_TRUE(IsReadOnly(dir / "ro"));
    struct Case {
        const char* what;
        std::function<bool()> op;
        uint32_t code;
    } cases[] = {
        {"copy missing source", [&] { return CopyFile(dir / "nope", dir / "dst", false); }, 2},
        {"copy into missing dir", [&] { return CopyFile(dir / "src", dir / "no/dst", false); }, 3},
        {"copy over read-only", [&] { return CopyFile(dir / "src", dir / "ro", false); }, 5},
        {"copy onto existing", [&] { return CopyFile(dir / "src", dir / "ro", true); }, 80},
        {"copy a directory", [&] { return CopyFile(dir.path(), dir / "dst", false); }, 5},
        {"delete a directory", [&] { return DeleteFile(dir.path()); }, 5},
        {"mkdir existing", [&] { return CreateDirectory(dir.path()); }, 183},
        {"mkdir under missing", [&] { return CreateDirectory(dir / "a/b"); }, 3},
        {"rmdir non-empty", [&] { return RemoveDirectory(dir.path()); }, 145},
        {"delete missing tree", [&] { return DeleteTree(dir / "nope"); }, 2},
        {"write into missing dir", [&] { return WriteWholeFile(dir / "no/f", "x", 1); }, 3},
        {"place missing source", [&] { return PlaceFile(dir / "nope", dir / "dst", false); }, 2},
        {"place into missing dir", [&] { return PlaceFile(dir / "src", dir / "no/d", false); }, 3},
        {"place over read-only", [&] { return PlaceFile(dir / "src", dir / "ro", false); }, 5},
        {"place over a directory", [&] { return PlaceFile(dir / "src", dir.path(), false); }, 5},
        {"place a directory", [&] { return PlaceFile(dir.path(), dir / "dst", false); }, 5},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.op()) << c.what;
        EXPECT_EQ(GetLastError(), c.code) << c.what;
    }
    EXPECT_EQ(TempDir::ReadFile(dir / "ro"), "old");
    EXPECT_EQ(TempDir::ReadFile(dir / "src"), "data");  // a refused move keeps its source
}

// Copies (kept source) and moves (source gone) alike: whole bytes, the
// source's permission bits, no temporary left beside the target.
TEST(File, CopyAndPlaceReplaceWholeFileKeepModeLeaveNoTemporary) {
    TempDir dir;
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 2654435761u >> 13);
    ASSERT_TRUE(WriteWholeFile(dir / "src", big.data(), big.size()));
    ASSERT_EQ(chmod((dir / "src").c_str(), 0750), 0);
    for (const char* name : {"dst", "placed"}) {
        TempDir::WriteFile(dir / name, "old contents");
        ASSERT_TRUE(SetReadOnly(dir / name, true) && SetReadOnly(dir / name, false));
    }
    ASSERT_TRUE(CopyFile(dir / "src", dir / "dst", false));
    ASSERT_TRUE(CopyFile(dir / "src", dir / "fresh", true));
    ASSERT_TRUE(PlaceFile(dir / "src", dir / "kept", true));
    EXPECT_TRUE(FileExists(dir / "src"));
    ASSERT_TRUE(PlaceFile(dir / "src", dir / "placed", false));
    EXPECT_FALSE(FileExists(dir / "src"));
    for (const char* name : {"dst", "fresh", "kept", "placed"}) {
        std::string text;
        ASSERT_TRUE(ReadWholeFile(dir / name, text));
        EXPECT_TRUE(text == big) << name;
        struct stat st {};
        stat((dir / name).c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0750u) << name;
    }
    auto entries = std::distance(std::filesystem::directory_iterator(dir.path()), {});
    EXPECT_EQ(entries, 4);
}

TEST(File, DirectoryChainsAndTreesThatHoldLinks) {
    TempDir dir, outside;
    ASSERT_TRUE(CreateDirectoryChain(dir / "a/b/c"));
    EXPECT_TRUE(CreateDirectoryChain(dir / "a/b/c"));
    EXPECT_TRUE(IsDirectory(dir / "a/b/c"));
    TempDir::WriteFile(dir / "a/b/f", "x");
    EXPECT_FALSE(CreateDirectoryChain(dir / "a/b/f/g"));
    TempDir::WriteFile(outside / "keep", "k");
    std::filesystem::create_directory_symlink(outside.path(), dir / "a/link");
    ASSERT_TRUE(DeleteTree(dir / "a"));
    EXPECT_FALSE(FileExists(dir / "a"));
    EXPECT_EQ(TempDir::ReadFile(outside / "keep"), "k");
}

TEST(File, MoveAcrossFileSystems) {
    TempDir dir;
    char templ[] = "/dev/shm/varn-plat-XXXXXX";
    if (mkdtemp(templ) == nullptr)
        GTEST_SKIP() << "no second file system to move from";
    std::string src = std::string(templ) + "/moved";
    TempDir::WriteFile(src, "payload");
    struct stat a {
    }, b{};
    stat(templ, &a);
    stat(dir.path().c_str(), &b);
    if (a.st_dev != b.st_dev) {
        EXPECT_TRUE(MoveFile(src, dir / "moved"));
        EXPECT_FALSE(FileExists(src));
        EXPECT_EQ(TempDir::ReadFile(dir / "moved"), "payload");
        // The rename cannot cross: the placement copies instead.
        TempDir::WriteFile(src, "placed payload");
        TempDir::WriteFile(dir / "placed", "old");
        EXPECT_TRUE(PlaceFile(src, dir / "placed", false));
        EXPECT_EQ(TempDir::ReadFile(dir / "placed"), "placed payload");
        // One flush for each file system; a path gone meanwhile is no failure.
        EXPECT_TRUE(SyncFileSystems({dir.path(), templ, dir / "placed", dir / "gone"}));
    }
    std::filesystem::remove_all(templ);
}

TEST(Path, DataNamesJoinAndStayInside) {
    struct Join {
        const char *dir, *name, *want;
    } joins[] = {{"/game", "Data\\Map\\a.bin", "/game/Data/Map/a.bin"},
                 {"/game/", "a.bin", "/game/a.bin"},
                 {"", "Data\\x", "Data/x"}};
    for (const auto& j : joins)
        EXPECT_EQ(JoinDataPath(j.dir, j.name), j.want) << j.dir << " + " << j.name;
    EXPECT_EQ(JoinPath("/game//", "/Update"), "/game/Update");
    for (const char* name : {"a.bin", "Data\\Map\\a.bin", "x/y", "..a\\b.."})
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
    for (const char* name :
         {"", "\\abs", "/abs", "C:\\x", "c:x", "..", "a\\..\\..\\b", "a/../b", "Data\\.."})
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
    EXPECT_EQ(DirName("Data\\Map\\a.bin"), "Data\\Map");
    EXPECT_EQ(DirName("plain"), "");
    EXPECT_EQ(BaseName("/a/b"), "b");  // "\\" too: see the process list test
}

TEST(Path, DesktopFromEnvironmentUserDirsOrHome) {
    TempDir dir;
    const char* names[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"};
    std::vector<std::optional<std::string>> outer;
    for (const char* name : names)
        outer.push_back(getenv(name) ? std::optional<std::string>(getenv(name)) : std::nullopt);
    setenv("HOME", (dir.path() + "/").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    unsetenv("XDG_DESKTOP_DIR");
    EXPECT_EQ(GetUserDesktopDir(), dir / "Desktop");
    TempDir::WriteFile(dir / "cfg/user-dirs.dirs",
                       "# comment\nXDG_DESKTOP_DIR=\"relative/x\"\n"
                       "  XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOWNLOAD_DIR=\"/dl\"\n");
    EXPECT_EQ(GetUserDesktopDir(), dir / "Schreibtisch");
    setenv("XDG_DESKTOP_DIR", "/srv/desk/", 1);
    EXPECT_EQ(GetUserDesktopDir(), "/srv/desk");
    for (size_t i = 0; i < outer.size(); ++i)
        outer[i] ? (void)setenv(names[i], outer[i]->c_str(), 1) : (void)unsetenv(names[i]);
}

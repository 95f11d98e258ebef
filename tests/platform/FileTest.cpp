#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "TempDir.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

using namespace plat;

namespace {

void Write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(path, text.data(), text.size()));
}

std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text));
    return text;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(Error, MapsErrnoAndHasTexts) {
    struct Case {
        int err;
        uint32_t code;
    } cases[] = {{ENOENT, 2},   {ENOTDIR, 3},        {EACCES, 5},      {EPERM, 5},
                 {EROFS, 5},    {EBUSY, 32},         {ETXTBSY, 32},    {EEXIST, 183},
                 {ENOSPC, 112}, {ENAMETOOLONG, 206}, {ENOTEMPTY, 145}, {12345, 31}};
    for (const auto& c : cases) {
        EXPECT_EQ(Win32FromErrno(c.err), c.code) << c.err;
    }
    EXPECT_EQ(FormatMessageText(2), "The system cannot find the file specified.");
    EXPECT_EQ(FormatMessageText(5), "Access is denied.");
    for (uint32_t code : {0u, 3u, 32u, 112u, 183u, 12029u, 987654u}) {
        std::string text = FormatMessageText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), '\n') << code;
    }
}

TEST(Error, LastErrorIsPerThread) {
    SetLastError(183);
    uint32_t seen = 1;
    std::thread t([&] { seen = GetLastError(); });
    t.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 183u);
}

TEST(File, OperationsReportWin32Codes) {
    TempDir dir;
    Write(dir / "src", "data");
    Write(dir / "ro", "old");
    ASSERT_TRUE(SetReadOnly(dir / "ro", true));
    std::string text;
    uint64_t size = 0;
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
        {"read missing", [&] { return ReadWholeFile(dir / "nope", text); }, 2},
        {"size in missing dir", [&] { return GetFileSize(dir / "no/x", size); }, 3},
        {"delete missing", [&] { return DeleteFile(dir / "nope"); }, 2},
        {"delete a directory", [&] { return DeleteFile(dir.path()); }, 5},
        {"move missing", [&] { return MoveFile(dir / "nope", dir / "x"); }, 2},
        {"move into missing dir", [&] { return MoveFile(dir / "src", dir / "no/x"); }, 3},
        {"mkdir existing", [&] { return CreateDirectory(dir.path()); }, 183},
        {"mkdir under missing", [&] { return CreateDirectory(dir / "a/b"); }, 3},
        {"rmdir non-empty", [&] { return RemoveDirectory(dir.path()); }, 145},
        {"delete missing tree", [&] { return DeleteTree(dir / "nope"); }, 2},
        {"write into missing dir", [&] { return WriteWholeFile(dir / "no/f", "x", 1); }, 3},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.op()) << c.what;
        EXPECT_EQ(GetLastError(), c.code) << c.what;
    }
    EXPECT_EQ(Read(dir / "ro"), "old");
}

TEST(File, CopyReplacesWholeFileAndKeepsMode) {
    TempDir dir;
    Write(dir / "src", std::string(200000, 'n'));
    ASSERT_EQ(chmod((dir / "src").c_str(), 0750), 0);
    Write(dir / "dst", "old contents");
    ASSERT_TRUE(CopyFile(dir / "src", dir / "dst", false));
    EXPECT_EQ(Read(dir / "dst"), std::string(200000, 'n'));
    EXPECT_EQ(ModeOf(dir / "dst"), 0750u);

    // Clearing the read-only attribute is what lets the copy through.
    ASSERT_TRUE(SetReadOnly(dir / "dst", true));
    EXPECT_TRUE(IsReadOnly(dir / "dst"));
    ASSERT_TRUE(SetReadOnly(dir / "dst", false));
    EXPECT_TRUE(CopyFile(dir / "src", dir / "dst", false));

    ASSERT_TRUE(CopyFile(dir / "src", dir / "fresh", true));
    EXPECT_EQ(Read(dir / "fresh").size(), 200000u);
    // No temporary file is left beside the target.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 3u);
}

TEST(File, DirectoriesAndTrees) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryChain(dir / "a/b/c"));
    EXPECT_TRUE(CreateDirectoryChain(dir / "a/b/c"));
    EXPECT_TRUE(IsDirectory(dir / "a/b/c"));
    Write(dir / "a/b/f", "x");
    EXPECT_FALSE(CreateDirectoryChain(dir / "a/b/f/g"));

    // A link inside the tree is removed, never followed out of it.
    TempDir outside;
    Write(outside / "keep", "k");
    std::filesystem::create_directory_symlink(outside.path(), dir / "a/link");
    ASSERT_TRUE(DeleteTree(dir / "a"));
    EXPECT_FALSE(FileExists(dir / "a"));
    EXPECT_EQ(Read(outside / "keep"), "k");

    uint64_t size = 0;
    Write(dir / "sized", "12345");
    ASSERT_TRUE(GetFileSize(dir / "sized", size));
    EXPECT_EQ(size, 5u);
    ASSERT_TRUE(SetFileTime(dir / "sized", 1000000000));
    struct stat st {};
    stat((dir / "sized").c_str(), &st);
    EXPECT_EQ(st.st_mtime, 1000000000);
}

TEST(File, MoveAcrossFileSystems) {
    TempDir dir;
    char templ[] = "/dev/shm/varn-plat-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        GTEST_SKIP() << "no second file system to move from";
    }
    std::string src = std::string(templ) + "/moved";
    Write(src, "payload");
    struct stat a {
    }, b{};
    stat(templ, &a);
    stat(dir.path().c_str(), &b);
    if (a.st_dev == b.st_dev) {
        std::filesystem::remove_all(templ);
        GTEST_SKIP() << "same file system";
    }
    EXPECT_TRUE(MoveFile(src, dir / "moved"));
    EXPECT_FALSE(FileExists(src));
    EXPECT_EQ(Read(dir / "moved"), "payload");
    std::filesystem::remove_all(templ);
}

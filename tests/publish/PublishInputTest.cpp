// Input the publisher must refuse before it writes anything, and the glob
// rules that pick configuration files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "PublishCommandLine.h"
#include "TypeRules.h"
#include "VersionTree.h"
#include "support/PublishFixture.h"

namespace fs = std::filesystem;
using varntest::CPublishFixture;

namespace {

int RunTool(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errors;
    int rc = CPublishCommandLine::Main(args, out, errors);
    if (err) {
        *err = errors.str();
    }
    return rc;
}

TEST(PublishInputTest, RefusesUnsafeOrUnusableInput) {
    CPublishFixture game(2);
    std::string v1 = "1.0.0.1:" + game.VersionDir(0);
    std::string v2 = "1.0.0.2:" + game.VersionDir(1);
    std::string out = game.OutDir();
    struct Case {
        const char* what;
        std::vector<std::string> args;
    } cases[] = {
        {"update name with a path", {"--out", out, "--update-name", "../Varn", v1, v2}},
        {"update name too long", {"--out", out, "--update-name", std::string(30, 'n'), v1}},
        {"version with a slash",
         {"--out", out, "--update-name", "Varn", "1/2:" + game.VersionDir(0)}},
        {"version with ..", {"--out", out, "--update-name", "Varn", "..:" + game.VersionDir(0)}},
        {"version too long",
         {"--out", out, "--update-name", "Varn", std::string(20, '1') + ":" + game.VersionDir(0)}},
        {"same version twice",
         {"--out", out, "--update-name", "Varn", v1, "1.0.0.1:" + game.VersionDir(1)}},
        {"missing directory",
         {"--out", out, "--update-name", "Varn", "1.0.0.1:" + game.Root() + "/none"}},
        {"launcher without version",
         {"--out", out, "--update-name", "Varn", "--launcher-dir", game.VersionDir(0), v1}},
        {"pack directory not ending in .lpk",
         {"--out", out, "--update-name", "Varn", "--pack-dir", "Data", v1}},
        {"pack directory climbing out",
         {"--out", out, "--update-name", "Varn", "--pack-dir", "../a.lpk", v1}},
        {"minor called unknown",
         {"--out", out, "--update-name", "Varn", "--minor", "unknown:" + game.VersionDir(1), v1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string err;
        EXPECT_NE(RunTool(c.args, &err), 0);
        EXPECT_FALSE(err.empty());
        EXPECT_FALSE(fs::exists(out + "/update.uvf"));
    }
}

TEST(PublishInputTest, RefusesFilesThatCannotTravelSafely) {
    struct Case {
        const char* what;
        void (*make)(const std::string& dir);
    } cases[] = {
        // "\" becomes a separator on the player's side: "..\x" would escape.
        {"backslash in a name",
         [](const std::string& d) { CPublishFixture::WriteFile(d + "/..\\evil.dll", "x"); }},
        {"symbolic link",
         [](const std::string& d) { fs::create_symlink("/etc/hostname", d + "/link.txt"); }},
        {"file named like the archive's list",
         [](const std::string& d) { CPublishFixture::WriteFile(d + "/filelist.uvf", "x"); }},
        {"name longer than the list field",
         [](const std::string& d) {
             CPublishFixture::WriteFile(
                 d + "/" + std::string(120, 'a') + "/" + std::string(140, 'b'), "x");
         }},
        // Packs ignore case, so this fails while the archive is being written.
        {"pack names equal but for case",
         [](const std::string& d) {
             CPublishFixture::WriteFile(d + "/Data/S.lpk/A.txt", "1");
             CPublishFixture::WriteFile(d + "/Data/S.lpk/a.txt", "2");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPublishFixture game(2);
        c.make(game.VersionDir(1));
        std::string err;
        EXPECT_EQ(
            RunTool({"--out", game.OutDir(), "--update-name", "Varn", "--pack-dir", "Data/S.lpk",
                     "1.0.0.1:" + game.VersionDir(0), "1.0.0.2:" + game.VersionDir(1)},
                    &err),
            1);
        EXPECT_FALSE(err.empty());
        EXPECT_FALSE(fs::exists(game.OutDir() + "/update.uvf"));
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(game.OutDir(), ec)) {
            EXPECT_NE(e.path().extension(), ".tmp") << e.path();
        }
    }
}

TEST(PublishInputTest, PublishableNames) {
    struct Case {
        const char* name;
        bool ok;
    } cases[] = {{"a.dat", true},   {"Data/Map/a.map", true}, {"/abs", false},
                 {"a/../b", false}, {"./a", false},           {"a//b", false},
                 {"C:/x", false},   {"a\\b", false},          {"", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(CVersionTree::IsPublishableName(c.name), c.ok) << c.name;
    }
}

TEST(PublishInputTest, ConfigGlobs) {
    struct Case {
        const char* glob;
        const char* name;
        bool config;
    } cases[] = {
        {"*.ini", "settings.ini", true},
        {"*.ini", "Data/sub/x.ini", true},
        {"*.ini", "settings.ini.bak", false},
        {"Data/*.cfg", "Data/a.cfg", true},
        {"Data/*.cfg", "Data/sub/a.cfg", false},
        {"Data/*/a.cfg", "Data/sub/a.cfg", true},
        {"opt?.ini", "opt1.ini", true},
        {"opt?.ini", "opt12.ini", false},
        {"Data/*", "Data", false},
    };
    for (const Case& c : cases) {
        CTypeRules rules;
        rules.AddConfigGlob(c.glob);
        EXPECT_EQ(rules.TypeOf(c.name), c.config ? 1 : 0) << c.glob << " " << c.name;
    }
}

TEST(PublishInputTest, BadCommandLinesAreUsageErrors) {
    EXPECT_EQ(RunTool({}), 2);
    EXPECT_EQ(RunTool({"--out", "/tmp/x", "--update-name", "Varn", "1.0.0.1"}), 2);
    EXPECT_EQ(RunTool({"--bogus"}), 2);
    EXPECT_EQ(RunTool({"install", "--version", "1"}), 2);
    std::string err;
    EXPECT_EQ(RunTool({"--help"}, &err), 0);
}

}  // namespace

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
    if (err)
        *err = errors.str();
    return rc;
}

void ExpectNothingPublished(const std::string& outDir) {
    EXPECT_FALSE(fs::exists(outDir + "/update.uvf"));
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(outDir, ec))
        EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}

TEST(PublishInputTest, RefusesUnsafeOrUnusableArguments) {
    CPublishFixture game(2);
    const std::string v0 = game.VersionDir(0), v1 = "1.0.0.1:" + v0;
    const struct {
        const char* what;
        std::string name;  // --update-name
        std::vector<std::string> rest;
    } cases[] = {
        {"update name with a path", "../Varn", {v1}},
        {"update name too long", std::string(30, 'n'), {v1}},
        {"version with ..", "Varn", {"..:" + v0}},
        {"version too long", "Varn", {std::string(20, '1') + ":" + v0}},
        {"same version twice", "Varn", {v1, "1.0.0.1:" + game.VersionDir(1)}},
        {"missing directory", "Varn", {"1.0.0.1:" + game.Root() + "/none"}},
        {"launcher without version", "Varn", {"--launcher-dir", v0, v1}},
        {"pack directory climbing out", "Varn", {"--pack-dir", "../a.lpk", v1}},
        {"minor called unknown", "Varn", {"--minor", "unknown:" + game.VersionDir(1), v1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--out", game.OutDir(), "--update-name", c.name};
        args.insert(args.end(), c.rest.begin(), c.rest.end());
        std::string err;
        EXPECT_NE(RunTool(args, &err), 0);
        EXPECT_FALSE(err.empty());
        ExpectNothingPublished(game.OutDir());
    }
    EXPECT_EQ(RunTool({}), 2);
    EXPECT_EQ(RunTool({"--out", "/tmp/x", "--update-name", "Varn", "1.0.0.1"}), 2);
    EXPECT_EQ(RunTool({"--bogus"}), 2);
    EXPECT_EQ(RunTool({"install", "--version", "1"}), 2);
}

TEST(PublishInputTest, RefusesFilesThatCannotTravelSafely) {
    const struct {
        const char* what;
        std::string file;  // below the newer version, "" for a link
        std::string second;
    } cases[] = {// "\" becomes a separator on the player's side: "..\x" would escape.
                 {"backslash in a name", "..\\evil.dll", ""},
                 {"symbolic link", "", ""},
                 {"file named like the archive's list", "filelist.uvf", ""},
                 {"name longer than the list field",
                  std::string(120, 'a') + "/" + std::string(140, 'b'), ""},
                 // Packs ignore case, so this fails while the archive is being written.
                 {"pack names equal but for case", "Data/S.lpk/A.txt", "Data/S.lpk/a.txt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CPublishFixture game(2);
        const std::string dir = game.VersionDir(1) + "/";
        if (c.file.empty())
            fs::create_symlink("/etc/hostname", dir + "link.txt");
        for (const std::string& name : {c.file, c.second})
            if (!name.empty())
                CPublishFixture::WriteFile(dir + name, name);
        std::string err;
        EXPECT_EQ(RunTool({"--out", game.OutDir(), "--update-name", "Varn", "--pack-dir",
                           "Data/S.lpk", "1.0.0.1:" + game.VersionDir(0), "1.0.0.2:" + dir},
                          &err),
                  1);
        EXPECT_FALSE(err.empty());
        ExpectNothingPublished(game.OutDir());
    }
}

TEST(PublishInputTest, PublishableNamesAndConfigGlobs) {
    for (const char* bad : {"/abs", "a/../b", "./a", "a//b", "C:/x", "a\\b", ""})
        EXPECT_FALSE(CVersionTree::IsPublishableName(bad)) << bad;
    EXPECT_TRUE(CVersionTree::IsPublishableName("Data/Map/a.map"));

    const struct {
        const char *glob, *name;
        bool config;
    } globs[] = {{"*.ini", "Data/sub/x.ini", true},        {"*.ini", "settings.ini.bak", false},
                 {"Data/*.cfg", "Data/a.cfg", true},       {"Data/*.cfg", "Data/sub/a.cfg", false},
                 {"Data/*/a.cfg", "Data/sub/a.cfg", true}, {"opt?.ini", "opt1.ini", true},
                 {"opt?.ini", "opt12.ini", false},         {"Data/*", "Data", false}};
    for (const auto& c : globs) {
        CTypeRules rules;
        rules.AddConfigGlob(c.glob);
        EXPECT_EQ(rules.TypeOf(c.name), c.config ? 1 : 0) << c.glob << " " << c.name;
    }
}

}  // namespace

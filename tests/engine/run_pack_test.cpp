// A patch chain whose files live inside a pack: the loop hands type-3
// entries to the pack update and commits the pack before the record moves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/run_test_env.h"
#include "pack/PackFile.h"
#include "platform/File.h"
#include "support/PublishFixture.h"

namespace {

using varntest::CPublishFixture;
using varntest::RunEngine;

std::string ReadPacked(CPackFile& pack, const char* inner) {
    PackSubFile* file = pack.OpenFile(inner, PACK_MODE_READ);
    if (file == nullptr)
        return "<missing>";
    std::string data(CPackFile::GetSubFileSize(file), '\0');
    const int ok = data.empty() || pack.ReadFile(file, data.data(), data.size());
    pack.CloseFile(file);
    return ok ? data : "<unreadable>";
}

TEST(PackRunTest, ChainUpdatesFilesInsideTheInstalledPack) {
    CUpdaterBase::ResetSharedStateForTests();
    CPublishFixture fixture(1);  // only for its temporary directory and runner
    const std::string root = fixture.Root();
    const std::string pack = "Data/Sound/Sound.lpk";
    struct File {
        int version;
        const char* name;
        const char* content;
    } files[] = {
        {1, "Varngame.exe", "build 1"},
        {1, "a.wav", "A1"},
        {1, "b.wav", "B1"},
        {2, "Varngame.exe", "build 2"},
        {2, "a.wav", "A2"},
        {2, "b.wav", "B1"},
        {3, "Varngame.exe", "build 3"},
        {3, "a.wav", "A2"},
        {3, "b.wav", "B1"},
        {3, "c.wav", "C3"},
        {3, "sub/d.wav", "D3"},
    };
    for (const File& f : files) {
        const std::string dir = root + "/src" + std::to_string(f.version) + "/";
        const bool loose = std::string(f.name) == "Varngame.exe";
        CPublishFixture::WriteFile(dir + (loose ? "" : pack + "/") + f.name, f.content);
    }
    ASSERT_EQ(0, fixture.Run({"--out", root + "/www", "--update-name", "Varn", "--pack-dir", pack,
                              "1.0.0.1:" + root + "/src1", "1.0.0.2:" + root + "/src2",
                              "1.0.0.3:" + root + "/src3"}));
    const std::string game = root + "/game";
    ASSERT_EQ(0, fixture.Run({"install", "--version", "1.0.0.1", "--update-name", "Varn",
                              "--pack-dir", pack, root + "/src1", game}));

    RunEngine engine;
    engine.SetUpdatePath(game.c_str());
    plat::SetCurrentDir(game);
    engine.Serve(root + "/www");
    ASSERT_EQ(RUN_OK, engine.UpdateProcess()) << CUpdaterBase::GetLastErrorMessage();
    EXPECT_STREQ("1.0.0.3", engine.LocalVersion());
    EXPECT_EQ("build 3", varntest::ReadText(game + "/Varngame.exe"));

    CPackFile installed;
    ASSERT_EQ(1, installed.Open((game + "/" + pack).c_str(), nullptr, PACK_MODE_READ));
    EXPECT_EQ("A2", ReadPacked(installed, "a.wav"));
    EXPECT_EQ("B1", ReadPacked(installed, "b.wav"));
    EXPECT_EQ("C3", ReadPacked(installed, "c.wav"));
    EXPECT_EQ("D3", ReadPacked(installed, "sub\\d.wav"));
    installed.Close();
    EXPECT_FALSE(plat::FileExists(game + "/" + pack + ".jnl"));
}

}  // namespace

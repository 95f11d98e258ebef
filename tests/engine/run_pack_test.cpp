// A patch chain whose files live inside a pack: the loop hands type-3
// entries to the pack update and commits the pack before the record moves.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/run_test_env.h"
#include "platform/File.h"
#include "support/PackTestUtil.h"
#include "support/PublishFixture.h"

namespace {

using varntest::CPublishFixture;
using varntest::RunEngine;

TEST(PackRunTest, ChainUpdatesFilesInsideTheInstalledPack) {
    CUpdaterBase::ResetSharedStateForTests();
    CPublishFixture fixture(1);  // only for its temporary directory and runner
    const std::string root = fixture.Root();
    const std::string pack = "Data/Sound/Sound.lpk";
    // Only the executable lives outside the pack; a.wav changes once, b.wav
    // never, and the last version adds two files (one in a subfolder).
    for (int v = 1; v <= 3; ++v) {
        const std::string dir = root + "/src" + std::to_string(v) + "/";
        CPublishFixture::WriteFile(dir + "Varngame.exe", "build " + std::to_string(v));
        CPublishFixture::WriteFile(dir + pack + "/a.wav", v == 1 ? "A1" : "A2");
        CPublishFixture::WriteFile(dir + pack + "/b.wav", "B1");
        if (v == 3) {
            CPublishFixture::WriteFile(dir + pack + "/c.wav", "C3");
            CPublishFixture::WriteFile(dir + pack + "/sub/d.wav", "D3");
        }
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

    EXPECT_EQ((std::map<std::string, std::string>{
                  {"a.wav", "A2"}, {"b.wav", "B1"}, {"c.wav", "C3"}, {"sub\\d.wav", "D3"}}),
              varntest::PackContentsAt(game + "/" + pack));
    EXPECT_FALSE(plat::FileExists(game + "/" + pack + ".jnl"));
}

}  // namespace

// Whole patch runs through CUpdateModule over HTTP: incremental chains,
// minor and full updates, a corrupt archive, an interrupted and resumed run,
// configuration files and read-only targets.
#include "integration/patch_env.h"

namespace patchtest {
namespace {

TEST_F(PatchRunTest, ChainOfTwoArchivesAdvancesTheRecordAfterEach) {
    Prepare(0);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
    const auto applied = Recorder::Get().Applied();
    ASSERT_EQ(2u, applied.size());
    EXPECT_EQ("1.0.0.1_to_1.0.0.2.lbc", applied[0].first);
    EXPECT_EQ("1.0.0.1", applied[0].second);
    EXPECT_EQ("1.0.0.2_to_1.0.0.3.lbc", applied[1].first);
    EXPECT_EQ("1.0.0.2", applied[1].second);  // the record advanced in between
    EXPECT_FALSE(fs::exists(game + "/Update/versionlist.uvf"));
    EXPECT_FALSE(fs::exists(game + "/Update/1.0.0.2_to_1.0.0.3"));
    EXPECT_EQ(0, Requests("Full_Varn_1.0.0.3.lbc"));
}

TEST_F(PatchRunTest, MinorUpdateOnTheLatestVersion) {
    const std::string minorDir = fixture.Root() + "/minor";
    fs::copy(fixture.VersionDir(2), minorDir, fs::copy_options::recursive);
    WriteText(minorDir + "/Data/hotfix.txt", "hotfix");
    WriteText(minorDir + "/Varngame.exe", "hotfixed build");
    Prepare(2, {"--minor", "0.1:" + minorDir});

    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ("hotfix", ReadText(game + "/Data/hotfix.txt"));
    EXPECT_EQ("hotfixed build", ReadText(game + "/Varngame.exe"));
    char local[64] = {}, latest[64] = {};
    module.GetMinorUpdateVersion(local, latest);
    EXPECT_STREQ("0.1", local);
    EXPECT_STREQ("0.1", latest);
    EXPECT_EQ(1, Requests("minor_to_1.0.0.3_of_0.1.lbc"));
}

TEST_F(PatchRunTest, FullArchiveWhenTheChainIsBigger) {
    // Three versions whose big file changes completely each time: two steps
    // carry it twice, the full archive once.
    const std::string root = fixture.Root();
    std::vector<std::string> args = {"--out", fixture.OutDir(), "--update-name", "Varn", "--store"};
    for (int v = 1; v <= 3; ++v) {
        const std::string dir = root + "/big" + std::to_string(v);
        std::string noise(60000, '\0');
        unsigned x = 2654435761u * static_cast<unsigned>(v);
        for (char& c : noise)
            c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        WriteText(dir + "/Data/world.bin", noise);
        WriteText(dir + "/Varngame.exe", "build " + std::to_string(v));
        args.push_back("1.0.0." + std::to_string(v) + ":" + dir);
    }
    ASSERT_EQ(0, fixture.Run(args));
    game = root + "/game";
    WriteText(game + "/keep.me", "player file");
    ASSERT_EQ(0, fixture.Run({"install", "--version", "1.0.0.1", "--update-name", "Varn",
                              root + "/big1", game}));
    StartServer();
    Configure();
    module.SetFullVersionDownload(1);

    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ(ReadText(root + "/big3/Data/world.bin"), ReadText(game + "/Data/world.bin"));
    EXPECT_EQ("build 3", ReadText(game + "/Varngame.exe"));
    EXPECT_EQ("player file", ReadText(game + "/keep.me"));  // nothing removed
    EXPECT_EQ("1.0.0.3", LocalVersion());
    EXPECT_EQ(1, Requests("Full_Varn_1.0.0.3.lbc"));
    EXPECT_EQ(0, Requests("1.0.0.1_to_1.0.0.2.lbc"));
}

TEST_F(PatchRunTest, FullVersionNeededEndsWithFifteenThenFourteen) {
    Prepare(-1);  // no installation record: only a full update can help
    RunWorker();
    const std::vector<int> codes = Recorder::Get().Codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(NOTIFY_FULL_VERSION_NEEDED, codes[codes.size() - 2]);
    EXPECT_EQ(NOTIFY_UPDATE_FAILED, codes.back());
    EXPECT_EQ(0, Requests("Full_Varn_1.0.0.3.lbc"));  // not fetched against the host's will
}

TEST_F(PatchRunTest, CorruptArchiveOnTheServerIsNotApplied) {
    Prepare(0);
    const std::string archive = Patch("1.0.0.1_to_1.0.0.2.lbc");
    std::string bytes = ReadText(archive);
    bytes[bytes.size() / 3] ^= 0x40;  // same size, different fingerprint
    WriteText(archive, bytes);

    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    EXPECT_NE(std::string::npos,
              std::string(module.GetLastErrorMsg()).find("1.0.0.1_to_1.0.0.2.lbc"));
    bool sawCode = false;
    for (const Seen& s : Recorder::Get().seen)
        sawCode = sawCode || s.code == NOTIFY_ERROR;
    EXPECT_TRUE(sawCode);
    EXPECT_EQ("1.0.0.1", LocalVersion());
    ExpectVersion(0);
    EXPECT_TRUE(Recorder::Get().Applied().empty());
}

TEST_F(PatchRunTest, InterruptedRunResumesAndReusesTheDownloadedArchive) {
    Prepare(0);
    std::string downloading;
    // First run: stop between the archives.
    Recorder::Get().hook = [this](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_APPLY_FILE && info->nFileIndex == info->nFileCount)
            module.CloseThread();
    };
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(1);
    EXPECT_EQ("1.0.0.2", LocalVersion());
    EXPECT_EQ(0, Requests("1.0.0.2_to_1.0.0.3.lbc"));

    // Second run: stopped as soon as the next archive is on disk.
    const std::string second = "1.0.0.2_to_1.0.0.3.lbc";
    Recorder::Get().hook = [this, second, &downloading](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_DOWNLOAD_START)
            downloading = info->szFileName;
        if (code == NOTIFY_DOWNLOAD_END && downloading.find(second) != std::string::npos)
            module.CloseThread();
    };
    Recorder::Get().seen.clear();
    module.UpdateRun();
    Recorder::Get().hook = nullptr;
    ASSERT_TRUE(fs::exists(game + "/Update/" + second));
    EXPECT_EQ("1.0.0.2", LocalVersion());

    // Third run: the intact archive is used without downloading it again.
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ(1, Requests(second));
    EXPECT_FALSE(fs::exists(game + "/Update/" + second));
}

TEST_F(PatchRunTest, ConfigurationFileOfThePlayerIsLeftAlone) {
    Prepare(0, {"--config", "*.ini"});
    WriteText(game + "/settings.ini", "[COMMON]\nLEVEL=mine\n");
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    EXPECT_EQ("[COMMON]\nLEVEL=mine\n", ReadText(game + "/settings.ini"));
    EXPECT_EQ(varntest::CPublishFixture::Content("Varngame.exe", 2),
              ReadText(game + "/Varngame.exe"));
}

TEST_F(PatchRunTest, ReadOnlyTargetsAreReplaced) {
    Prepare(0);
    for (const char* name : {"Varngame.exe", "Update/version.uvf", "Data/big.bin"})
        fs::permissions(game + "/" + name,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
}

}  // namespace
}  // namespace patchtest

// Publishes the sample game and reads the patch root back the way the
// launcher does: the version files through CUpdateVersion, versionlist.uvf
// through the profile functions, archives through unzip and CFileHash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "PublishCommandLine.h"
#include "PublishReadBack.h"
#include "archive/FileHash.h"
#include "support/PublishFixture.h"

namespace fs = std::filesystem;
using namespace pubtest;
using varntest::CPublishFixture;

namespace {

class PublisherTest : public ::testing::Test {
protected:
    PublisherTest() {
        game.SetRunner([this](const std::vector<std::string>& args) {
            std::ostringstream out;
            errors.str("");
            return CPublishCommandLine::Main(args, out, errors);
        });
    }
    std::string Out(const std::string& name) const {
        return (fs::path(game.OutDir()) / name).string();
    }
    std::string VersionList(const std::string& section, const char* key) const {
        return Profile(Out("versionlist.uvf"), section.c_str(), key);
    }
    // Loads a scrambled version file held in memory.
    void LoadVersion(const std::string& bytes, CUpdateVersion& v) const {
        ASSERT_TRUE(LoadVersionBytes((fs::path(game.Root()) / "scratch.uvf").string(), bytes, v));
    }

    CPublishFixture game{3};
    std::ostringstream errors;
};

std::vector<std::string> Keys(const std::map<std::string, std::string>& m) {
    std::vector<std::string> k;
    for (const auto& [name, data] : m) {
        k.push_back(name);
    }
    return k;
}

TEST_F(PublisherTest, VersionListDescribesEveryArchiveExactly) {
    ASSERT_EQ(game.Publish({"--config", "*.ini"}), 0) << errors.str();

    EXPECT_EQ(VersionList("VERSIONLIST", "VERSIONCOUNT"), "3");
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSION0"), "1.0.0.3");
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSION1"), "1.0.0.2");
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSION2"), "1.0.0.1");
    EXPECT_EQ(VersionList("VERSIONLIST", "MINORVERSION"), "");

    const char* archives[] = {"1.0.0.1_to_1.0.0.2.lbc", "1.0.0.2_to_1.0.0.3.lbc",
                              "Full_Varn_1.0.0.3.lbc"};
    for (const char* name : archives) {
        SCOPED_TRACE(name);
        std::string path = Out(name);
        ASSERT_TRUE(fs::exists(path));
        auto entries = ReadZip(path);
        uint64_t unpacked = 0;
        for (const auto& [entry, data] : entries) {
            unpacked += data.size();
        }
        EXPECT_EQ(VersionList(name, "FILESIZE"), std::to_string(fs::file_size(path)));
        EXPECT_EQ(VersionList(name, "GUID"), Fingerprint(path));
        EXPECT_EQ(VersionList(name, "FILECOUNT"), std::to_string(entries.size()));
        EXPECT_EQ(VersionList(name, "NOTCOMPRESSSIZE"), std::to_string(unpacked));
    }
    EXPECT_EQ(VersionList("VERSIONLIST", "FULLVERSIONSIZE"),
              std::to_string(fs::file_size(Out("Full_Varn_1.0.0.3.lbc"))));
    // Nothing half-written is left behind.
    for (const auto& e : fs::directory_iterator(game.OutDir())) {
        EXPECT_NE(e.path().extension(), ".tmp") << e.path();
    }
}

TEST_F(PublisherTest, UpdateFileAnnouncesLatestAndOldest) {
    ASSERT_EQ(game.Publish({"--launcher-version", "1.0.6.2"}), 0) << errors.str();
    CUpdateVersion v;
    v.SetPath(Out("update.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    EXPECT_STREQ(v.m_szUpdateName, "Varn");
    EXPECT_STREQ(v.m_szUpdateVersion, "1.0.0.3");
    EXPECT_STREQ(v.m_szLauncherVersion, "1.0.6.2");
    EXPECT_STREQ(v.m_szMinorVersion, "unknown");
    EXPECT_STREQ(v.m_szLatestVersion, "1.0.0.3");
    EXPECT_STREQ(v.m_szPrimaryVersion, "1.0.0.1");
    EXPECT_STREQ(v.m_szEndVersion, "1.0.0.1");
    EXPECT_EQ(v.m_nFileCount, 0u);
}

TEST_F(PublisherTest, IncrementalArchiveHoldsChangedFilesAndTheirList) {
    ASSERT_EQ(game.Publish({"--config", "*.ini"}), 0) << errors.str();
    auto zip = ReadZip(Out("1.0.0.1_to_1.0.0.2.lbc"));
    // common.dat is unchanged and stays out; big.bin changed (same size).
    std::vector<std::string> expected = {"Data/Map/level1.map", "Data/big.bin", "Varngame.exe",
                                         "filelist.uvf", "settings.ini"};
    EXPECT_EQ(Keys(zip), expected);
    EXPECT_EQ(zip["Data/big.bin"], CPublishFixture::Content("Data/big.bin", 1));

    CUpdateVersion list;
    LoadVersion(zip["filelist.uvf"], list);
    EXPECT_STREQ(list.m_szUpdateVersion, "1.0.0.2");
    EXPECT_STREQ(list.m_szLatestVersion, "1.0.0.3");
    // Installed state without a minor version must compare below any minor
    // published later.
    EXPECT_STREQ(list.m_szMinorVersion, "0");

    auto rows = FileList(list);
    ASSERT_EQ(rows.size(), 4u);
    struct Want {
        const char* name;
        const char* local;
        int type;
    } want[] = {{"Data\\Map\\level1.map", "Data/Map/level1.map", 0},
                {"Data\\big.bin", "Data/big.bin", 0},
                {"Varngame.exe", "Varngame.exe", 0},
                {"settings.ini", "settings.ini", 1}};
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(want[i].name);
        std::string local = (fs::path(game.VersionDir(1)) / want[i].local).string();
        EXPECT_EQ(rows[i].name, want[i].name);
        EXPECT_EQ(rows[i].type, want[i].type);
        EXPECT_EQ(rows[i].size, fs::file_size(local));
        EXPECT_EQ(rows[i].hash, Fingerprint(local));
    }
}

// The launcher's fingerprint reads only samples of large files, so a change
// between samples leaves it unchanged; the file must still be published.
TEST_F(PublisherTest, ChangeBetweenFingerprintSamplesIsPublished) {
    std::string big = game.VersionDir(2) + "/Data/big.bin";
    std::string data = ReadFile(big);
    CFileHash::SamplePlan plan = CFileHash::PlanSamples(data.size());
    ASSERT_GT(plan.count, 1);
    uint64_t gap = plan.offset[0] + plan.length[0];  // first byte after sample 0
    ASSERT_LT(gap, plan.offset[1]);
    std::string before = Fingerprint(big);
    data[gap] = static_cast<char>(data[gap] ^ 0x5A);
    WriteFile(big, data);
    ASSERT_EQ(Fingerprint(big), before);

    ASSERT_EQ(game.Publish(), 0) << errors.str();
    auto zip = ReadZip(Out("1.0.0.2_to_1.0.0.3.lbc"));
    ASSERT_EQ(zip.count("Data/big.bin"), 1u);
    EXPECT_EQ(zip["Data/big.bin"], data);
}

TEST_F(PublisherTest, FullArchiveCarriesEveryFileAndTheInstallationRecord) {
    ASSERT_EQ(game.Publish(), 0) << errors.str();
    auto zip = ReadZip(Out("Full_Varn_1.0.0.3.lbc"));
    for (const std::string& name : CPublishFixture::FileNames(2)) {
        ASSERT_EQ(zip.count(name), 1u) << name;
        EXPECT_EQ(zip[name], CPublishFixture::Content(name, 2)) << name;
    }
    EXPECT_EQ(zip.count("filelist.uvf"), 0u);
    ASSERT_EQ(zip.count("Update/version.uvf"), 1u);
    CUpdateVersion record;
    LoadVersion(zip["Update/version.uvf"], record);
    EXPECT_STREQ(record.m_szUpdateName, "Varn");
    EXPECT_STREQ(record.m_szUpdateVersion, "1.0.0.3");
    EXPECT_STREQ(record.m_szMinorVersion, "0");
    EXPECT_EQ(record.m_nFileCount, CPublishFixture::FileNames(2).size());
}

TEST_F(PublisherTest, OutputIsByteForByteRepeatable) {
    ASSERT_EQ(game.Publish(), 0) << errors.str();
    std::string first = ReadFile(Out("versionlist.uvf"));
    fs::remove_all(game.OutDir());
    ASSERT_EQ(game.Publish(), 0) << errors.str();
    EXPECT_EQ(ReadFile(Out("versionlist.uvf")), first);
}

TEST_F(PublisherTest, MinorLauncherTypeFileAndNoFull) {
    std::string minorDir = (fs::path(game.Root()) / "minor").string();
    fs::copy(game.VersionDir(2), minorDir, fs::copy_options::recursive);
    CPublishFixture::WriteFile(minorDir + "/Data/common.dat", "hotfix\n");
    std::string launcherDir = (fs::path(game.Root()) / "launcher").string();
    CPublishFixture::WriteFile(launcherDir + "/Varn.exe", "launcher\n");
    CPublishFixture::WriteFile(launcherDir + "/lang/Resource_Jpn.dll", "res\n");
    std::string typeIni = (fs::path(game.Root()) / "type.ini").string();
    WriteFile(typeIni, "[SETUP]\nTYPE=t\n");

    ASSERT_EQ(game.Publish({"--minor", "1.1:" + minorDir, "--launcher-version", "1.0.6.2",
                            "--launcher-dir", launcherDir, "--type-ini", typeIni, "--no-full"}),
              0)
        << errors.str();

    EXPECT_EQ(VersionList("VERSIONLIST", "FULLVERSIONSIZE"), "0");
    EXPECT_FALSE(fs::exists(Out("Full_Varn_1.0.0.3.lbc")));
    EXPECT_EQ(VersionList("VERSIONLIST", "MINORVERSION"), "1.1");
    CUpdateVersion update;
    update.SetPath(Out("update.uvf").c_str());
    ASSERT_TRUE(update.LoadUpdateVersion());
    EXPECT_STREQ(update.m_szMinorVersion, "1.1");

    const std::string minorName = "minor_to_1.0.0.3_of_1.1.lbc";
    auto minor = ReadZip(Out(minorName));
    EXPECT_EQ(Keys(minor), (std::vector<std::string>{"Data/common.dat", "filelist.uvf"}));
    EXPECT_EQ(VersionList(minorName, "GUID"), Fingerprint(Out(minorName)));
    CUpdateVersion list;
    LoadVersion(minor["filelist.uvf"], list);
    EXPECT_STREQ(list.m_szUpdateVersion, "1.0.0.3");
    EXPECT_STREQ(list.m_szMinorVersion, "1.1");

    auto launcher = ReadZip(Out("LAUNCHER/LAUNCHER_1.0.6.2.lbc"));
    ASSERT_EQ(launcher.count("clientlist.uvf"), 1u);
    EXPECT_EQ(launcher["lang/Resource_Jpn.dll"], "res\n");
    std::string clientList = (fs::path(game.Root()) / "clientlist.ini").string();
    WriteFile(clientList, Unscramble(launcher["clientlist.uvf"]));
    EXPECT_EQ(Profile(clientList, "SETUP", "FILECOUNT"), "2");
    EXPECT_EQ(Profile(clientList, "SETUP", "FILE0"), "Varn.exe");
    EXPECT_EQ(Profile(clientList, "SETUP", "FILE1"), "lang\\Resource_Jpn.dll");

    EXPECT_EQ(Unscramble(ReadFile(Out("type.uvf"))), "[SETUP]\nTYPE=t\n");
}

TEST_F(PublisherTest, ManifestOverridesGlobs) {
    std::string manifest = (fs::path(game.Root()) / "types.txt").string();
    WriteFile(manifest, "# types\n0 settings.ini\n1 Varngame.exe\n2 Data\\big.bin\n");
    ASSERT_EQ(game.Publish({"--config", "*.ini", "--manifest", manifest}), 0) << errors.str();
    CUpdateVersion list;
    LoadVersion(ReadZip(Out("1.0.0.1_to_1.0.0.2.lbc"))["filelist.uvf"], list);
    std::map<std::string, int> types;
    for (const ListRow& r : FileList(list)) {
        types[r.name] = r.type;
    }
    EXPECT_EQ(types["settings.ini"], 0);
    EXPECT_EQ(types["Varngame.exe"], 1);
    EXPECT_EQ(types["Data\\big.bin"], 2);
    EXPECT_EQ(types["Data\\Map\\level1.map"], 0);
}

TEST_F(PublisherTest, PackDirectoriesTravelAsPacks) {
    auto put = [this](int v, const std::string& inner, const std::string& data) {
        CPublishFixture::WriteFile(game.VersionDir(v) + "/Data/Sound.lpk/" + inner, data);
    };
    for (int v = 0; v < 3; ++v) {
        put(v, "bgm/title.wav", v == 0 ? "title 0" : "title 1");
        put(v, "se/hit.wav", "hit");
    }
    put(2, "bgm/end.wav", "end");
    ASSERT_EQ(game.Publish({"--pack-dir", "Data/Sound.lpk"}), 0) << errors.str();

    auto zip = ReadZip(Out("1.0.0.1_to_1.0.0.2.lbc"));
    ASSERT_EQ(zip.count("Data/Sound.lpk"), 1u);
    EXPECT_EQ(zip.count("Data/Sound.lpk/bgm/title.wav"), 0u);
    std::string pack = game.Root() + "/step.lpk";
    WriteFile(pack, zip["Data/Sound.lpk"]);
    // Only the changed file: the launcher adds it to the installed pack.
    EXPECT_EQ(ReadPack(pack), (std::map<std::string, std::string>{{"bgm\\title.wav", "title 1"}}));
    CUpdateVersion list;
    LoadVersion(zip["filelist.uvf"], list);
    bool found = false;
    for (const ListRow& r : FileList(list)) {
        if (r.name == "Data\\Sound.lpk\\bgm\\title.wav") {
            found = true;
            EXPECT_EQ(r.type, 3);
            EXPECT_EQ(r.hash, Fingerprint(game.VersionDir(1) + "/Data/Sound.lpk/bgm/title.wav"));
        }
    }
    EXPECT_TRUE(found);

    WriteFile(pack, ReadZip(Out("Full_Varn_1.0.0.3.lbc"))["Data/Sound.lpk"]);
    EXPECT_EQ(ReadPack(pack).size(), 3u);

    std::string gameDir = game.Root() + "/installed";
    ASSERT_EQ(game.Run({"install", "--version", "1.0.0.1", "--update-name", "Varn", "--pack-dir",
                        "Data/Sound.lpk", game.VersionDir(0), gameDir}),
              0)
        << errors.str();
    EXPECT_EQ(ReadPack(gameDir + "/Data/Sound.lpk"),
              (std::map<std::string, std::string>{{"bgm\\title.wav", "title 0"},
                                                  {"se\\hit.wav", "hit"}}));
    EXPECT_FALSE(fs::exists(gameDir + "/Data/Sound.lpk/bgm"));
}

TEST_F(PublisherTest, InstallWritesFilesAndRecord) {
    std::string gameDir = (fs::path(game.Root()) / "installed").string();
    ASSERT_EQ(game.Install(1, gameDir), 0) << errors.str();
    for (const std::string& name : CPublishFixture::FileNames(1)) {
        EXPECT_EQ(ReadFile(gameDir + "/" + name), CPublishFixture::Content(name, 1)) << name;
    }
    CUpdateVersion record;
    record.SetPath((gameDir + "/Update/version.uvf").c_str());
    ASSERT_TRUE(record.LoadUpdateVersion());
    EXPECT_STREQ(record.m_szUpdateVersion, "1.0.0.2");
    EXPECT_STREQ(record.m_szUpdateName, "Varn");
    EXPECT_STREQ(record.m_szMinorVersion, "0");
}

}  // namespace

namespace {

// The integration tests drive the built tool; make sure the fixture's
// default path (a child process) publishes the same patch root.
TEST(PublishFixtureTest, BinaryPublishesAndInstalls) {
    if (!fs::exists(CPublishFixture::BinaryPath())) {
        GTEST_SKIP() << "varn-publish not built";
    }
    CPublishFixture game(2);
    ASSERT_EQ(game.Publish({"--config", "*.ini"}), 0);
    EXPECT_TRUE(fs::exists(game.OutDir() + "/1.0.0.1_to_1.0.0.2.lbc"));
    EXPECT_EQ(Profile(game.OutDir() + "/versionlist.uvf", "VERSIONLIST", "VERSION0"), "1.0.0.2");
    std::string gameDir = game.Root() + "/installed";
    ASSERT_EQ(game.Install(0, gameDir), 0);
    EXPECT_TRUE(fs::exists(gameDir + "/Update/version.uvf"));
    EXPECT_NE(game.Run({"--update-name", "../x"}), 0);
}

}  // namespace

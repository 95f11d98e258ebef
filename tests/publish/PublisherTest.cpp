// Publishes the sample game and reads the patch root back the way the
// launcher does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "PublishCommandLine.h"
#include "PublishReadBack.h"
#include "archive/RootManifest.h"
#include "archive/Sha256.h"
#include "archive/Signature.h"
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
    std::string Out(const std::string& name) const { return game.OutDir() + "/" + name; }
    std::string Root(const std::string& name) const { return game.Root() + "/" + name; }
    std::string VersionList(const std::string& section, const char* key) const {
        return Profile(Out("versionlist.uvf"), section.c_str(), key);
    }
    void Load(CUpdateVersion& v, const std::string& path) {
        v.SetPath(path.c_str());
        ASSERT_TRUE(v.LoadUpdateVersion()) << path;
    }
    void LoadBytes(CUpdateVersion& v, const std::string& bytes) {
        TempDir::WriteFile(Root("scratch.uvf"), bytes);
        Load(v, Root("scratch.uvf"));
    }

    CPublishFixture game{3};
    std::ostringstream errors;
};

std::vector<std::string> Keys(const Contents& m) {
    std::vector<std::string> k;
    for (const auto& entry : m)
        k.push_back(entry.first);
    return k;
}

TEST_F(PublisherTest, PatchRootReadsBackAndIsRepeatable) {
    ASSERT_EQ(game.Publish({"--config", "*.ini", "--launcher-version", "1.0.6.2"}), 0)
        << errors.str();
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSIONCOUNT"), "3");
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSION0"), "1.0.0.3");
    EXPECT_EQ(VersionList("VERSIONLIST", "VERSION2"), "1.0.0.1");
    EXPECT_EQ(VersionList("VERSIONLIST", "MINORVERSION"), "");
    EXPECT_EQ(VersionList("VERSIONLIST", "FULLVERSIONSIZE"),
              std::to_string(fs::file_size(Out("Full_Varn_1.0.0.3.lbc"))));
    for (const char* name :
         {"1.0.0.1_to_1.0.0.2.lbc", "1.0.0.2_to_1.0.0.3.lbc", "Full_Varn_1.0.0.3.lbc"}) {
        SCOPED_TRACE(name);
        auto entries = ReadZip(Out(name));
        uint64_t unpacked = 0;
        for (const auto& entry : entries)
            unpacked += entry.second.size();
        EXPECT_EQ(VersionList(name, "FILESIZE"), std::to_string(fs::file_size(Out(name))));
        EXPECT_EQ(VersionList(name, "GUID"), Fingerprint(Out(name)));
        EXPECT_EQ(VersionList(name, "FILECOUNT"), std::to_string(entries.size()));
        EXPECT_EQ(VersionList(name, "NOTCOMPRESSSIZE"), std::to_string(unpacked));
    }
    for (const auto& e : fs::directory_iterator(game.OutDir()))  // nothing half-written
        EXPECT_NE(e.path().extension(), ".tmp") << e.path();

    CUpdateVersion update;
    Load(update, Out("update.uvf"));
    EXPECT_STREQ(update.m_szUpdateName, "Varn");
    EXPECT_STREQ(update.m_szUpdateVersion, "1.0.0.3");
    EXPECT_STREQ(update.m_szLauncherVersion, "1.0.6.2");
    EXPECT_STREQ(update.m_szMinorVersion, "unknown");
    EXPECT_STREQ(update.m_szLatestVersion, "1.0.0.3");
    EXPECT_STREQ(update.m_szPrimaryVersion, "1.0.0.1");
    EXPECT_STREQ(update.m_szEndVersion, "1.0.0.1");
    EXPECT_EQ(update.m_nFileCount, 0u);

    const std::string first = TempDir::ReadFile(Out("versionlist.uvf"));
    fs::remove_all(game.OutDir());
    ASSERT_EQ(game.Publish({"--config", "*.ini", "--launcher-version", "1.0.6.2"}), 0);
    EXPECT_EQ(TempDir::ReadFile(Out("versionlist.uvf")), first);
}

TEST_F(PublisherTest, IncrementalArchiveHoldsChangedFilesAndTheirList) {
    ASSERT_EQ(game.Publish({"--config", "*.ini"}), 0) << errors.str();
    auto zip = ReadZip(Out("1.0.0.1_to_1.0.0.2.lbc"));
    EXPECT_EQ(Keys(zip),
              (std::vector<std::string>{"Data/Map/level1.map", "Data/big.bin", "Varngame.exe",
                                        "filelist.uvf", "settings.ini"}));
    EXPECT_EQ(zip["Data/big.bin"], CPublishFixture::Content("Data/big.bin", 1));

    CUpdateVersion list;
    LoadBytes(list, zip["filelist.uvf"]);
    EXPECT_STREQ(list.m_szUpdateVersion, "1.0.0.2");
    EXPECT_STREQ(list.m_szLatestVersion, "1.0.0.3");
    EXPECT_STREQ(list.m_szMinorVersion, "0");
    auto rows = FileList(list);
    const std::pair<const char*, int> want[] = {
        {"Data/Map/level1.map", 0}, {"Data/big.bin", 0}, {"Varngame.exe", 0}, {"settings.ini", 1}};
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(want[i].first);
        std::string local = game.VersionDir(1) + "/" + want[i].first;
        std::string stored = want[i].first;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        EXPECT_EQ(rows[i].name, stored);
        EXPECT_EQ(rows[i].type, want[i].second);
        EXPECT_EQ(rows[i].size, fs::file_size(local));
        EXPECT_EQ(rows[i].hash, Fingerprint(local));
    }
}

TEST_F(PublisherTest, ChangeBetweenFingerprintSamplesIsPublished) {
    std::string big = game.VersionDir(2) + "/Data/big.bin";
    std::string data = TempDir::ReadFile(big);
    CFileHash::SamplePlan plan = CFileHash::PlanSamples(data.size());
    ASSERT_GT(plan.count, 1);
    uint64_t gap = plan.offset[0] + plan.length[0];  // first byte after sample 0
    ASSERT_LT(gap, plan.offset[1]);
    std::string before = Fingerprint(big);
    data[gap] = static_cast<char>(data[gap] ^ 0x5A);
    TempDir::WriteFile(big, data);
    ASSERT_EQ(Fingerprint(big), before);

    ASSERT_EQ(game.Publish(), 0) << errors.str();
    auto zip = ReadZip(Out("1.0.0.2_to_1.0.0.3.lbc"));
    ASSERT_EQ(zip.count("Data/big.bin"), 1u);
    EXPECT_EQ(zip["Data/big.bin"], data);
}

TEST_F(PublisherTest, LauncherTypeFileAndNoFull) {
    const std::string launcherDir = Root("launcher");
    TempDir::WriteFile(launcherDir + "/varn-launcher", "launcher\n");
    TempDir::WriteFile(launcherDir + "/lang/Resource_Jpn.dll", "res\n");
    TempDir::WriteFile(Root("type.ini"), "[SETUP]\nTYPE=t\n");
    // Without its program and libraries the new launcher could not start.
    EXPECT_NE(game.Publish({"--launcher-version", "1.0.6.2", "--launcher-dir", launcherDir}), 0);
    EXPECT_NE(errors.str().find("lacks an executable program, libvarncore.so, libvarnplatform.so"),
              std::string::npos)
        << errors.str();
    fs::permissions(launcherDir + "/varn-launcher", fs::perms::owner_exec, fs::perm_options::add);
    for (const char* lib : {"libvarncore.so", "libvarnplatform.so"})
        TempDir::WriteFile(launcherDir + "/" + lib, "lib\n");
    ASSERT_EQ(game.Publish({"--launcher-version", "1.0.6.2", "--launcher-dir", launcherDir,
                            "--type-ini", Root("type.ini"), "--no-full"}),
              0)
        << errors.str();
    EXPECT_EQ(VersionList("VERSIONLIST", "FULLVERSIONSIZE"), "0");
    EXPECT_FALSE(fs::exists(Out("Full_Varn_1.0.0.3.lbc")));

    auto unscramble = [](std::string data) {
        ScrambleBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
        return data;
    };
    auto launcher = ReadZip(Out("LAUNCHER/LAUNCHER_1.0.6.2.lbc"));
    EXPECT_EQ(launcher["lang/Resource_Jpn.dll"], "res\n");
    TempDir::WriteFile(Root("clientlist.ini"), unscramble(launcher["clientlist.uvf"]));
    EXPECT_EQ(Profile(Root("clientlist.ini"), "SETUP", "FILECOUNT"), "4");
    EXPECT_EQ(Profile(Root("clientlist.ini"), "SETUP", "FILE0"), "lang\\Resource_Jpn.dll");
    EXPECT_EQ(unscramble(TempDir::ReadFile(Out("type.uvf"))), "[SETUP]\nTYPE=t\n");
}

TEST_F(PublisherTest, ManifestOverridesGlobs) {
    TempDir::WriteFile(Root("types.txt"),
                       "# types\n0 settings.ini\n1 Varngame.exe\n2 Data\\big.bin\n");
    ASSERT_EQ(game.Publish({"--config", "*.ini", "--manifest", Root("types.txt")}), 0)
        << errors.str();
    CUpdateVersion list;
    LoadBytes(list, ReadZip(Out("1.0.0.1_to_1.0.0.2.lbc"))["filelist.uvf"]);
    std::map<std::string, int> types;
    for (const ListRow& r : FileList(list))
        types[r.name] = r.type;
    EXPECT_EQ(types, (std::map<std::string, int>{{"settings.ini", 0},
                                                 {"Varngame.exe", 1},
                                                 {"Data\\big.bin", 2},
                                                 {"Data\\Map\\level1.map", 0}}));
}

// The manifest lists every installed file of the latest version with its
// real digest (pack entries under their pack, configuration files as type
// 1) and every archive; the signatures hold for the published bytes and
// this key only.
TEST_F(PublisherTest, ManifestAndSignaturesDescribeTheRoot) {
    const std::string pack = "Data/Sound.lpk";
    for (int v = 0; v < 3; ++v)
        TempDir::WriteFile(game.VersionDir(v) + "/" + pack + "/bgm/a.wav",
                           "wave" + std::to_string(v));
    ASSERT_EQ(game.Run({"keygen", Root("k.pem"), Root("k.pub")}), 0) << errors.str();
    ASSERT_EQ(game.Run({"keygen", Root("other.pem"), Root("other.pub")}), 0) << errors.str();
    EXPECT_EQ(fs::status(Root("k.pem")).permissions() & fs::perms::group_read, fs::perms::none);
    ASSERT_EQ(game.Publish({"--config", "*.ini", "--pack-dir", pack, "--sign-key", Root("k.pem")}),
              0)
        << errors.str();

    CRootManifest m;
    ASSERT_TRUE(m.Parse(TempDir::ReadFile(Out("manifest.uvf"))));
    EXPECT_EQ(m.version, "1.0.0.3");
    EXPECT_EQ(m.fullArchive, "Full_Varn_1.0.0.3.lbc");
    ASSERT_EQ(m.archives.size(), 3u);
    for (const ManifestArchive& a : m.archives)
        EXPECT_EQ(a.sha256, CSha256::OfFile(Out(a.name))) << a.name;
    std::map<std::string, ManifestFile> byName;
    for (const ManifestFile& f : m.files)
        byName[f.ListName()] = f;
    for (const std::string& name : CPublishFixture::FileNames(2)) {
        std::string listName = name;
        std::replace(listName.begin(), listName.end(), '/', '\\');
        ASSERT_EQ(byName.count(listName), 1u) << listName;
        const std::string content = CPublishFixture::Content(name, 2);
        EXPECT_EQ(byName[listName].sha256, CSha256::OfData(content.data(), content.size()));
        EXPECT_EQ(byName[listName].size, content.size());
        EXPECT_EQ(byName[listName].type, name == "settings.ini" ? 1 : 0) << name;
    }
    const ManifestFile& wav = byName["Data\\Sound.lpk\\bgm\\a.wav"];
    EXPECT_EQ(wav.type, 3);
    EXPECT_EQ(wav.pack, "Data\\Sound.lpk");
    EXPECT_EQ(wav.sha256, CSha256::OfData("wave2", 5));
    EXPECT_EQ(byName.size(), CPublishFixture::FileNames(2).size() + 1);

    CPublisherKey key, other;
    ASSERT_TRUE(key.Load(TempDir::ReadFile(Root("k.pub"))));
    ASSERT_TRUE(other.Load(TempDir::ReadFile(Root("other.pub"))));
    for (const char* name : {"update.uvf", "versionlist.uvf", "manifest.uvf"}) {
        std::string data = TempDir::ReadFile(Out(name));
        const std::string sig = TempDir::ReadFile(Out(name) + ".sig");
        EXPECT_TRUE(key.Verify(data.data(), data.size(), sig)) << name;
        EXPECT_FALSE(other.Verify(data.data(), data.size(), sig)) << name;
        data[data.size() / 2] ^= 1;
        EXPECT_FALSE(key.Verify(data.data(), data.size(), sig)) << name;
    }
    // Without --sign-key: a manifest, no signatures.
    ASSERT_EQ(game.Run({"--out", Root("plain"), "--update-name", "Varn",
                        "1.0.0.1:" + game.VersionDir(0)}),
              0);
    EXPECT_FALSE(fs::exists(Root("plain/update.uvf.sig")));
    EXPECT_TRUE(fs::exists(Root("plain/manifest.uvf")));
    // A key that is not an Ed25519 private key fails before anything is written.
    EXPECT_EQ(game.Run({"--out", Root("bad"), "--update-name", "Varn", "--sign-key", Root("k.pub"),
                        "1.0.0.1:" + game.VersionDir(0)}),
              1);
    EXPECT_FALSE(fs::exists(Root("bad/update.uvf")));
}

// Whatever a server sends, a manifest never names a path outside the game
// directory, and the key and signature texts are exact.
TEST(RootManifestTest, RefusesUnsafeOrMalformedRecords) {
    const std::string sha(64, 'a');
    const std::string head = "VARNMANIFEST 1\n";
    CRootManifest m;
    ASSERT_TRUE(m.Parse(head + "VERSION\t1.0\r\nFILE\t0\t3\t" + sha + "\tData\\a.bin\nLATER\tx\n" +
                        "PACK\t1\t" + sha + "\tData\\S.lpk\tbgm\\t.wav\n"));
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[1].ListName(), "Data\\S.lpk\\bgm\\t.wav");
    CRootManifest again;
    EXPECT_TRUE(again.Parse(m.Format()));
    EXPECT_EQ(again.Format(), m.Format());
    for (const std::string& bad :
         {"FILE\t0\t3\t" + sha + "\t..\\evil", "FILE\t0\t3\t" + sha + "\t\\abs",
          "FILE\t0\t3\t" + sha + "\tC:\\x", "FILE\t0\t3\t" + sha + "\ta\\\\b",
          "FILE\t0\t3\t" + sha + "\ta/../b", "FILE\t3\t3\t" + sha + "\ta",
          "FILE\t0\t-3\t" + sha + "\ta", "FILE\t0\t3\t" + sha.substr(1) + "\ta",
          "FILE\t0\t3\t" + std::string(64, 'A') + "\ta", "PACK\t1\t" + sha + "\tData\\S\tx",
          "PACK\t1\t" + sha + "\tS.lpk\t..", std::string("ARCHIVE\tx.lbc\t1"),
          "FILE\t0\t3\t" + sha}) {
        EXPECT_FALSE(m.Parse(head + bad + "\n")) << bad;
        EXPECT_TRUE(m.files.empty()) << bad;
    }
    EXPECT_FALSE(m.Parse(""));
    EXPECT_FALSE(m.Parse("VARNMANIFEST 2\n"));

    uint8_t raw[2];
    EXPECT_TRUE(CPublisherKey::DecodeHex(" aB0f\r\n", raw, 2));
    EXPECT_EQ(raw[1], 0x0f);
    EXPECT_FALSE(CPublisherKey::DecodeHex("aB0", raw, 2));
    EXPECT_FALSE(CPublisherKey::DecodeHex("aB 0f", raw, 2));
    EXPECT_FALSE(CPublisherKey::DecodeHex("aB0g", raw, 2));
    CPublisherKey key;
    EXPECT_FALSE(key.Load(std::string(62, '1')));
    EXPECT_FALSE(key.Verify("x", 1, std::string(128, '0')));
}

}  // namespace

// Patch runs against archives a careless or hostile server might publish,
// and the manual path that applies one archive the host names.
#include "integration/patch_env.h"
#include "support/VersionFileWriter.h"

namespace patchtest {
namespace {

constexpr const char* kFirst = "1.0.0.1_to_1.0.0.2";

class HostileArchiveTest : public PatchRunTest {
protected:
    // Replaces the first step's archive with hand-made contents and
    // republishes its size and fingerprint.
    void ReplaceFirstArchive(const std::vector<varntest::VersionFileEntry>& list,
                             std::vector<std::pair<std::string, std::string>> files) {
        varntest::CVersionFileWriter fileList;
        fileList.updateName = "Varn";
        fileList.updateVersion = "1.0.0.2";
        fileList.minorVersion = "0";
        fileList.entries = list;
        files.push_back({"filelist.uvf", varntest::CVersionFileWriter::Scramble(fileList.Plain())});
        const std::string archive = Patch(std::string(kFirst) + ".lbc");
        fs::remove(archive);
        ASSERT_TRUE(MakeZip(archive, files));
        const std::string list_ = Patch("versionlist.uvf");
        const std::string section = std::string(kFirst) + ".lbc";
        SetListValue(list_, section, "FILESIZE", std::to_string(fs::file_size(archive)));
        SetListValue(list_, section, "GUID", SmallFileFingerprint(archive));
        SetListValue(list_, section, "FILECOUNT", std::to_string(files.size()));
    }
    void ExpectNothingOutside() {
        for (const char* name : {"outside.txt", "escape.txt", "Update/escape.txt"}) {
            EXPECT_FALSE(fs::exists(fixture.Root() + "/" + name)) << name;
            EXPECT_FALSE(fs::exists(game + "/Update/" + name)) << name;
        }
    }
};

TEST_F(HostileArchiveTest, FileListNameClimbingOutIsRefused) {
    Prepare(0);
    ReplaceFirstArchive({{std::string(40, 'A'), "good.txt", 0, 4},
                         {std::string(40, 'A'), "..\\outside.txt", 0, 4},
                         {std::string(40, 'A'), "later.txt", 0, 4}},
                        {{"good.txt", "good"}, {"later.txt", "late"}});
    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    EXPECT_EQ("good", ReadText(game + "/good.txt")) << module.GetLastErrorMsg();
    EXPECT_FALSE(fs::exists(game + "/later.txt"));
    EXPECT_NE(std::string::npos, std::string(module.GetLastErrorMsg()).find("outside.txt"))
        << module.GetLastErrorMsg();
    EXPECT_EQ("1.0.0.1", LocalVersion());  // the record does not advance
    ExpectNothingOutside();
}

TEST_F(HostileArchiveTest, ArchiveEntryClimbingOutIsRefused) {
    Prepare(0);
    ReplaceFirstArchive({{std::string(40, 'A'), "good.txt", 0, 4}},
                        {{"good.txt", "good"}, {"../escape.txt", "bad"}});
    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    EXPECT_NE(std::string::npos, std::string(module.GetLastErrorMsg()).find(kFirst))
        << module.GetLastErrorMsg();
    EXPECT_FALSE(fs::exists(game + "/good.txt"));
    EXPECT_EQ("1.0.0.1", LocalVersion());
    ExpectNothingOutside();
}

class ManualArchiveTest : public PatchRunTest {
protected:
    void SetUp() override {
        Prepare(0);
        const std::string name = std::string(kFirst) + ".lbc";
        fs::copy_file(Patch(name), game + "/Update/" + name);
        const std::string list = Patch("versionlist.uvf");
        guid = ListValue(list, name, "GUID");
        size = std::stod(ListValue(list, name, "FILESIZE"));
        count = std::stoi(ListValue(list, name, "FILECOUNT"));
    }
    std::string guid;
    double size = 0;
    int count = 0;
};

TEST_F(ManualArchiveTest, NamedArchiveIsAppliedWithoutTheServer) {
    const std::string before = ReadText(game + "/Update/version.uvf");
    module.SetUpdateManualVersion(game.c_str(), kFirst, guid.c_str(), count, size, 1000.0);
    server.reset();  // nothing is fetched on this path
    ASSERT_EQ(RUN_OK, module.UpdateRun());
    ExpectVersion(1);
    EXPECT_NE(before, ReadText(game + "/Update/version.uvf"));
    EXPECT_FALSE(fs::exists(game + "/Update/" + std::string(kFirst) + ".lbc"));
    EXPECT_FALSE(fs::exists(game + "/Update/" + std::string(kFirst)));
    const auto applied = Recorder::Get().Applied();
    ASSERT_EQ(1u, applied.size());
    EXPECT_EQ(std::string(kFirst) + ".lbc", applied[0].first);
}

TEST_F(ManualArchiveTest, WrongFingerprintIsRefused) {
    std::string wrong = guid;
    wrong[0] = wrong[0] == 'A' ? 'B' : 'A';
    module.SetUpdateManualVersion(game.c_str(), kFirst, wrong.c_str(), count, size, 1000.0);
    EXPECT_EQ(RUN_PATCH_FAILED, module.UpdateRun());
    ExpectVersion(0);
    EXPECT_NE(std::string::npos, std::string(module.GetLastErrorMsg()).find(kFirst));
}

}  // namespace
}  // namespace patchtest

namespace patchtest {
namespace {

TEST_F(PatchRunTest, LoopModeRepeatsUntilARunFails) {
    Prepare(0);
    ASSERT_EQ(1, module.ApplyCommandLine(" -loop"));
    // Pass 1 fetches update.uvf twice (run sequence, then patch loop) and
    // applies the chain; pass 2 finds nothing to do. Taking update.uvf off
    // the server once pass 2 has it makes pass 3 fail, which ends the loop.
    int fetched = 0;
    const std::string published = Patch("update.uvf");
    Recorder::Get().hook = [&](int code, UPDATE_CALLBACK_INFO* info) {
        if (code == NOTIFY_DOWNLOAD_START &&
            std::string(info->szFileName).find("update.uvf") != std::string::npos && ++fetched == 3)
            fs::remove(published);
    };
    EXPECT_EQ(RUN_FAILED, module.UpdateRun());
    Recorder::Get().hook = nullptr;
    ExpectVersion(2);
    EXPECT_EQ("1.0.0.3", LocalVersion());
    EXPECT_EQ(3, fetched);
    EXPECT_EQ(2u, Recorder::Get().Applied().size());  // the chain once, not again
}

}  // namespace
}  // namespace patchtest

// The download plan: archive chain, weights, the switch to the full archive,
// the end of the list, and the size text.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "engine/run_test_env.h"

namespace {

using namespace varntest;

class PlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        engine.SetUpdatePath(dir.path().c_str());
        plat::SetCurrentDir(dir.path());
        engine.SetLatest("1.0.0.3", "unknown");
    }
    // VERSION0 is the newest. The k-th step archive has FILESIZE 100*k,
    // FILECOUNT k, NOTCOMPRESSSIZE 1000*k.
    void WriteList(const std::string& fullSize = "0", const std::string& versionKeys = kThree) {
        WriteText(dir / "Update/versionlist.uvf",
                  "[VERSIONLIST]\nFULLVERSIONSIZE=" + fullSize + "\n" + versionKeys +
                      "[1.0.0.1_to_1.0.0.2.lbc]\nFILESIZE=100\nFILECOUNT=1\nNOTCOMPRESSSIZE=1000\n"
                      "[1.0.0.2_to_1.0.0.3.lbc]\nFILESIZE=200\nFILECOUNT=2\nNOTCOMPRESSSIZE=2000\n"
                      "[Full_Varn_1.0.0.3.lbc]\nFILESIZE=250\nFILECOUNT=7\nNOTCOMPRESSSIZE=5000\n"
                      "[minor_to_1.0.0.3_of_0.2.lbc]\nFILESIZE=10\nFILECOUNT=4\n"
                      "NOTCOMPRESSSIZE=30\n");
    }
    int Plan(const char* local) {
        info = {}, size = 0, count = 0;
        return engine.GetVersionFileInformation(&info, local, &size, &count);
    }
    static constexpr const char* kThree =
        "VERSIONCOUNT=3\nVERSION0=1.0.0.3\nVERSION1=1.0.0.2\nVERSION2=1.0.0.1\n";

    TempDir dir;
    RunEngine engine;
    UPDATE_CALLBACK_INFO info{};
    uint64_t size = 0;
    int count = 0;
};

// Steps count their FILESIZE once and their files and unpacked size twice
// (unpacked, then applied); a chain bigger than FULLVERSIONSIZE switches to
// the full archive (counted once) even though the host disallows full
// downloads: that setting only applies after an archive has been applied.
TEST_F(PlanTest, ChainMinorAndFullArchivesWithTheirWeights) {
    const std::string minor = std::string(kThree) + "MINORVERSION=0.2\n";
    const int kMajor = UPDATE_MAJOR_VERSION, kFull = UPDATE_FULL_VERSION;
    using Result = std::tuple<int, uint64_t, int, uint64_t, int>;  // kind, size, count, totals
    // full size, version keys, local version, result
    const std::tuple<const char*, std::string, const char*, Result> rows[] = {
        {"0", kThree, "1.0.0.1", {kMajor, 300, 3, 300 + 2 * 3000, 6}},
        {"0", minor, "1.0.0.2", {kMajor, 200 + 10, 2 + 4, 210 + 2 * 2030, 12}},
        {"0", minor, "0.9", {kMajor, 10, 4, 10 + 2 * 30, 8}},             // unlisted: minor only
        {"300", kThree, "1.0.0.1", {kMajor, 300, 3, 300 + 2 * 3000, 6}},  // not bigger
        {"299", kThree, "1.0.0.1", {kFull, 250, 7, 250 + 5000, 7}},
    };
    engine.SetFullVersionDownload(0);  // as every host sets it
    for (const auto& [fullSize, keys, local, expected] : rows) {
        SCOPED_TRACE(std::string(local) + ", full size " + fullSize);
        WriteList(fullSize, keys);
        engine.SetKind(kMajor);
        ASSERT_EQ(1, Plan(local));
        EXPECT_EQ(expected,
                  Result(engine.GetUpdateKind(), size, count, info.nTotalSize, info.nFileCount));
    }
    // A full update without a full archive cannot be planned.
    WriteList("0");
    engine.SetKind(kFull);
    EXPECT_EQ(0, Plan("1.0.0.1"));
}

TEST_F(PlanTest, NoNextArchiveOrNoListEndsThePlan) {
    WriteList();
    for (const char* local : {"1.0.0.3", "0.0.0.7"}) {
        CUpdaterBase::ResetSharedStateForTests();
        engine.SetLocal(local);
        EXPECT_EQ(0, engine.SetFtpVersionFileName()) << local;
        EXPECT_EQ(CUSTOM_ERROR_ARCHIVE_NAME, CUpdaterBase::GetLastCustomErrorCode());
        EXPECT_EQ(ERROR_KIND_CUSTOM, CUpdaterBase::GetLastErrorKind());
    }
    // Nor can a plan be prepared without the list.
    ServedProtocol* server = engine.Serve(dir / "nothing-here");
    engine.InstallStopEvent();
    EXPECT_EQ(4, engine.PrepareDownloadPlan());
    EXPECT_EQ(1, server->downloads["versionlist.uvf"]);
    EXPECT_EQ(CUSTOM_ERROR_DOWNLOAD_PLAN, CUpdaterBase::GetLastCustomErrorCode());
}

TEST(DownloadSizeText, UnitsAndRounding) {
    const std::pair<uint64_t, const char*> rows[] = {{1023, "1023.00 Byte"},
                                                     {1048575, "1024.00 KB"},
                                                     {(1ULL << 62) + 12345, "4294967296.00 GB"}};
    for (const auto& [size, text] : rows) {
        char out[64];
        CFileUpdater::FormatDownloadSize(size, out, sizeof(out));
        EXPECT_STREQ(text, out) << size;
    }
}

}  // namespace

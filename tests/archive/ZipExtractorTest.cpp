#include "archive/ZipExtractor.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
using varntest::TempDir;
using varntest::WriteZip;

namespace {

class FakeHost : public CExtractHost {
public:
    void StartKeepAlive() override { ++keepAliveStarts; }
    void StopKeepAlive() override { ++keepAliveStops; }
    plat::EventHandle GetStopEvent() override { return stop; }

    plat::EventHandle stop = plat::CreateEvent(true, false);
    int keepAliveStarts = 0, keepAliveStops = 0;
};

struct Note {
    std::string name;
    int index, count;
    uint64_t total;
};
std::vector<Note> g_notes;
std::vector<int> g_codes;

std::vector<std::string> FilesBelow(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!e.is_directory())
            files.push_back(fs::relative(e.path(), dir).string());
    std::sort(files.begin(), files.end());
    return files;
}

class ZipExtractorTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUpdaterBase::ResetSharedStateForTests();
        CUpdaterBase::SetCallBack(nullptr, [](int32_t code, UPDATE_CALLBACK_INFO* i) {
            g_codes.push_back(code);
            g_notes.push_back({i->szFileName, i->nFileIndex, i->nFileCount, i->nTotalReceived});
        });
        Clear();
        fs::create_directories(out);
        std::snprintf(owner.m_szDefaultPath, sizeof owner.m_szDefaultPath, "%s", game.c_str());
    }
    void TearDown() override { CUpdaterBase::ResetSharedStateForTests(); }

    void Clear() { g_notes.clear(), g_codes.clear(); }
    int Extract(int count = 0, int deleteAfter = 0, int countFromArchive = 0) {
        return extractor.ExtractFile(archive.c_str(), out.c_str(), count, deleteAfter,
                                     countFromArchive);
    }

    TempDir tmp;
    std::string game = tmp / "game", out = tmp / "game/Update/unpack", archive = tmp / "patch.zip";
    CUpdaterBase owner;
    FakeHost host;
    CZipExtractor extractor{owner, host};
};

TEST_F(ZipExtractorTest, UnpacksStoredDeflatedAndNestedEntries) {
    std::string big(300 * 1024, '\0');  // several read chunks
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 1000);
    WriteZip(archive, {{"a.txt", "stored text", 0},
                       {"Data\\Map\\b.bin", big, 8},
                       {"empty/", "", 0, true},
                       {"x/y/z.txt", "", 8}});
    TempDir::WriteFile(out + "/stale.txt", "from an earlier run");

    ASSERT_EQ(Extract(99), 1) << CUpdaterBase::GetLastErrorMessage();
    EXPECT_EQ(TempDir::ReadFile(out + "/a.txt"), "stored text");
    EXPECT_EQ(TempDir::ReadFile(out + "/Data/Map/b.bin"), big);
    EXPECT_TRUE(fs::is_directory(out + "/empty"));
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"Data/Map/b.bin", "a.txt", "x/y/z.txt"}));

    std::tm want{};  // the entries' 2007-03-09 10:15:30, local
    want.tm_year = 107, want.tm_mon = 2, want.tm_mday = 9;
    want.tm_hour = 10, want.tm_min = 15, want.tm_sec = 30, want.tm_isdst = -1;
    const auto mtime = std::chrono::file_clock::to_sys(fs::last_write_time(out + "/a.txt"));
    EXPECT_EQ(std::chrono::system_clock::to_time_t(mtime), std::mktime(&want));

    ASSERT_EQ(g_codes, (std::vector<int>{8, 9, 9, 9, 9, 10}));
    EXPECT_EQ(g_notes[0].name, archive);
    EXPECT_EQ(g_notes[0].count, 99);
    EXPECT_EQ(g_notes[2].name, "Data\\Map\\b.bin");
    EXPECT_EQ(g_notes[4].index, 4);
    EXPECT_EQ(g_notes[4].total, 11 + big.size());
    EXPECT_EQ(g_notes[5].name, archive);
    EXPECT_EQ(host.keepAliveStarts + host.keepAliveStops, 2);

    Clear();
    WriteZip(archive, {});
    EXPECT_EQ(Extract(5, 0, 1), 1);
    EXPECT_TRUE(fs::is_directory(out) && fs::is_empty(out));
    ASSERT_EQ(g_codes, (std::vector<int>{8, 10}));
    EXPECT_EQ(g_notes[0].count, 0);
}

TEST_F(ZipExtractorTest, UnreadableArchiveFailsWithEmptyOutput) {
    for (const std::string& bytes : {std::string(), std::string(5000, 'Q')}) {
        SCOPED_TRACE(bytes.empty() ? "missing" : "not a zip");
        Clear();
        fs::remove(archive);
        if (!bytes.empty())
            TempDir::WriteFile(archive, bytes);
        TempDir::WriteFile(out + "/stale.txt", "x");

        EXPECT_EQ(Extract(3, 1), 0);
        EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "general mistake with the arguments ");
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_CUSTOM);
        EXPECT_EQ(g_codes, (std::vector<int>{8, 4, 14}));
        EXPECT_TRUE(fs::is_directory(out) && fs::is_empty(out));
        EXPECT_FALSE(fs::exists(archive));  // deleteAfter removes it even on failure
    }
}

TEST_F(ZipExtractorTest, DamagedEntryLeavesNoFileUnderItsName) {
    std::string data(100000, 'A');
    for (size_t i = 0; i < data.size(); i += 3)
        data[i] = static_cast<char>(i);
    WriteZip(archive, {{"ok.txt", "fine", 0}, {"bad.bin", data, 8}});
    std::string bytes = TempDir::ReadFile(archive);
    const size_t at = bytes.find("bad.bin") + 7 + 200;  // inside the compressed data
    for (size_t i = at; i < at + 64; ++i)
        bytes[i] = static_cast<char>(~bytes[i]);
    TempDir::WriteFile(archive, bytes);

    EXPECT_EQ(Extract(), 0);
    const std::string msg = CUpdaterBase::GetLastErrorMessage();
    EXPECT_TRUE(msg == "a general error writing to the file bad.bin" ||
                msg == "the zipfile is corrupt or not a zipfile bad.bin")
        << msg;
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(g_codes.back(), 14);
}

TEST_F(ZipExtractorTest, StopBeforeFirstEntryExtractsNothingAndStaysQuiet) {
    WriteZip(archive, {{"a.txt", "a"}});
    for (bool closeIt : {false, true}) {
        SCOPED_TRACE(closeIt ? "closed event" : "signalled event");
        Clear();
        host.stop = plat::CreateEvent(true, false);
        closeIt ? plat::CloseEvent(host.stop) : (void)plat::SetEvent(host.stop);
        EXPECT_EQ(Extract(1), 0);
        EXPECT_TRUE(fs::is_directory(out) && fs::is_empty(out));
        EXPECT_EQ(g_codes, std::vector<int>{8});
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
    }
}

TEST_F(ZipExtractorTest, HostileNamesAreRefusedAndNothingLandsOutside) {
    for (const char* name :
         {"../evil.txt", "/tmp/evil.txt", "\\evil.txt", "C:evil.txt", "a\\..\\..\\evil.txt"}) {
        SCOPED_TRACE(name);
        Clear();
        WriteZip(archive, {{"first.txt", "1"}, {name, "owned"}});
        EXPECT_EQ(Extract(), 0);
        EXPECT_EQ(CUpdaterBase::GetLastErrorMessage(), std::string("Zip Error ") + name);
        EXPECT_EQ(FilesBelow(tmp.path()),
                  (std::vector<std::string>{"game/Update/unpack/first.txt", "patch.zip"}));
        EXPECT_EQ(g_codes.back(), 14);
    }
}

TEST_F(ZipExtractorTest, GameDirectoryIsKeptButLinksOutOfItAreNotFollowed) {
    fs::create_directories(tmp / "elsewhere");
    fs::create_directory_symlink(tmp / "elsewhere", game + "/linked");
    TempDir::WriteFile(game + "/Varngame.exe", "game");
    out = game;  // the full-version archive unpacks over the installation

    WriteZip(archive, {{"Data/new.bin", "new"}});
    EXPECT_EQ(Extract(), 1);
    EXPECT_EQ(TempDir::ReadFile(game + "/Varngame.exe"), "game");
    EXPECT_EQ(TempDir::ReadFile(game + "/Data/new.bin"), "new");

    WriteZip(archive, {{"linked/evil.txt", "owned"}});
    EXPECT_EQ(Extract(), 0);
    EXPECT_TRUE(fs::is_empty(tmp / "elsewhere"));
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "Zip Error linked/evil.txt");
}

TEST_F(ZipExtractorTest, ErrorMessagesTakeTheNameLiterally) {
    const struct {
        uint32_t code;
        const char* name;
        const char* text;
    } cases[] = {{0x00000200, "a.txt", "couldn't create/open the file a.txt"},
                 {0x12345678, "%s%n", "Zip Error %s%n"}};
    for (const auto& c : cases) {
        extractor.FormatZipError(c.code, c.name);
        EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), c.text);
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_NONE);
    }
}

TEST_F(ZipExtractorTest, UserLogModeLeavesTheArchivePathOutOfTheLog) {
    TempDir game;  // the update log needs its marker file in the game directory
    TempDir::WriteFile(game / "LauncherLog.log", "");
    CUpdaterBase::s_nSaveLog = 1;
    owner.SetBaseDirectory(game.path().c_str());
    owner.m_nUserLogMode = 1;
    WriteZip(archive, {{"a.txt", "a"}});
    EXPECT_EQ(Extract(7), 1);
    std::string log;
    for (const auto& e : fs::directory_iterator(game / "Update/Log"))
        log += TempDir::ReadFile(e.path());
    EXPECT_NE(log.find("] ExtractFile OutputPath " + out + " FileCount 7\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find(archive), std::string::npos) << log;
}

}  // namespace

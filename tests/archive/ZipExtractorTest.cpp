#include "archive/ZipExtractor.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "platform/Event.h"

namespace fs = std::filesystem;

namespace {

class FakeHost : public CExtractHost {
public:
    void StartKeepAlive() override { ++keepAliveStarts; }
    void StopKeepAlive() override { ++keepAliveStops; }
    plat::EventHandle GetStopEvent() override { return stop; }

    plat::EventHandle stop = plat::CreateEvent(true, false);
    int keepAliveStarts = 0;
    int keepAliveStops = 0;
};

struct Note {
    int code;
    std::string name;
    int index;
    int count;
    uint64_t total;
};
std::vector<Note> g_notes;

void Record(int32_t code, UPDATE_CALLBACK_INFO* info) {
    g_notes.push_back(
        {code, info->szFileName, info->nFileIndex, info->nFileCount, info->nTotalReceived});
}

std::vector<int> Codes() {
    std::vector<int> codes;
    for (const Note& n : g_notes)
        codes.push_back(n.code);
    return codes;
}

// Every regular file below dir, as paths relative to it.
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
        CUpdaterBase::SetCallBack(nullptr, Record);
        g_notes.clear();
        game = tmp / "game";
        out = tmp / "game/Update/unpack";
        archive = tmp / "patch.zip";
        fs::create_directories(out);
        std::snprintf(owner.m_szDefaultPath, sizeof owner.m_szDefaultPath, "%s", game.c_str());
    }
    void TearDown() override { CUpdaterBase::ResetSharedStateForTests(); }

    int Extract(int count = 0, int deleteAfter = 0, int countFromArchive = 0) {
        return extractor.ExtractFile(archive.c_str(), out.c_str(), count, deleteAfter,
                                     countFromArchive);
    }

    TempDir tmp;
    std::string game, out, archive;
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

    // The wrong expected count is only reported; the archive's entries count.
    ASSERT_EQ(Codes(), (std::vector<int>{8, 9, 9, 9, 9, 10}));
    EXPECT_EQ(g_notes[0].name, archive);
    EXPECT_EQ(g_notes[0].count, 99);
    EXPECT_EQ(g_notes[2].name, "Data\\Map\\b.bin");
    EXPECT_EQ(g_notes[4].index, 4);
    EXPECT_EQ(g_notes[4].total, 11 + big.size());
    EXPECT_EQ(g_notes[5].name, archive);
    EXPECT_EQ(host.keepAliveStarts, 1);
    EXPECT_EQ(host.keepAliveStops, 1);
}

TEST_F(ZipExtractorTest, CountFromArchiveAndEmptyArchive) {
    WriteZip(archive, {});
    TempDir::WriteFile(out + "/stale.txt", "x");
    EXPECT_EQ(Extract(5, 0, 1), 1);
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out));
    ASSERT_EQ(Codes(), (std::vector<int>{8, 10}));
    EXPECT_EQ(g_notes[0].count, 0);
}

TEST_F(ZipExtractorTest, UnreadableArchiveFailsWithEmptyOutput) {
    struct Case {
        const char* what;
        std::string bytes;  // empty: no archive file at all
    } cases[] = {{"missing", ""}, {"not a zip", std::string(5000, 'Q')}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_notes.clear();
        fs::remove(archive);
        if (!c.bytes.empty())
            TempDir::WriteFile(archive, c.bytes);
        TempDir::WriteFile(out + "/stale.txt", "x");

        EXPECT_EQ(Extract(3, 1), 0);
        EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "general mistake with the arguments ");
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_CUSTOM);
        EXPECT_EQ(Codes(), (std::vector<int>{8, 4, 14}));
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
    EXPECT_EQ(Codes().back(), 14);
}

TEST_F(ZipExtractorTest, StopBeforeFirstEntryExtractsNothingAndStaysQuiet) {
    WriteZip(archive, {{"a.txt", "a"}});
    for (bool closeIt : {false, true}) {
        SCOPED_TRACE(closeIt ? "closed event" : "signalled event");
        g_notes.clear();
        host.stop = plat::CreateEvent(true, false);
        if (closeIt)
            plat::CloseEvent(host.stop);
        else
            plat::SetEvent(host.stop);
        EXPECT_EQ(Extract(1), 0);
        EXPECT_TRUE(fs::is_directory(out) && fs::is_empty(out));
        EXPECT_EQ(Codes(), std::vector<int>{8});
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
    }
}

TEST_F(ZipExtractorTest, HostileNamesAreRefusedAndNothingLandsOutside) {
    const char* names[] = {"../evil.txt",      "/tmp/evil.txt",        "\\evil.txt",
                           "C:evil.txt",       "a/../../evil.txt",     "a\\..\\..\\evil.txt",
                           "..\\..\\evil.txt", "sub/../../../evil.txt"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        g_notes.clear();
        WriteZip(archive, {{"first.txt", "1"}, {name, "owned"}});
        EXPECT_EQ(Extract(), 0);
        EXPECT_EQ(CUpdaterBase::GetLastErrorMessage(), std::string("Zip Error ") + name);
        EXPECT_EQ(FilesBelow(tmp.Path()),
                  (std::vector<std::string>{"game/Update/unpack/first.txt", "patch.zip"}));
        EXPECT_EQ(Codes().back(), 14);
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

TEST(ZipErrorTable, MessagesTakeTheNameLiterally) {
    CUpdaterBase::ResetSharedStateForTests();
    CUpdaterBase owner;
    FakeHost host;
    CZipExtractor extractor(owner, host);
    const struct {
        uint32_t code;
        const char* name;
        const char* text;
    } cases[] = {
        {0x00000200, "a.txt", "couldn't create/open the file a.txt"},
        {0x05000000, "z", "an internal error in the de/inflation code z"},
        {0x00000900, "%s%n", "Zip Error %s%n"},
        {0x12345678, "q", "Zip Error q"},
    };
    for (const auto& c : cases) {
        extractor.FormatZipError(c.code, c.name);
        EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), c.text);
        EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_NONE);
    }
    CUpdaterBase::ResetSharedStateForTests();
}

}  // namespace

namespace {

// The user-log mode keeps the archive's location out of the update log.
TEST_F(ZipExtractorTest, UserLogModeLeavesTheArchivePathOutOfTheLog) {
    const std::string before = fs::current_path().string();
    fs::current_path(tmp.Path());  // the update log needs its marker file here
    TempDir::WriteFile(tmp / "LauncherLog.log", "");
    CUpdaterBase::s_nSaveLog = 1;
    std::snprintf(owner.m_szUpdatePath, sizeof owner.m_szUpdatePath, "%s", (tmp / "upd").c_str());
    WriteZip(archive, {{"a.txt", "a"}});

    std::string log;
    for (int mode : {0, 1}) {
        owner.m_nUserLogMode = mode;
        EXPECT_EQ(Extract(7), 1);
    }
    for (const auto& e : fs::directory_iterator(tmp / "upd/Log"))
        log += TempDir::ReadFile(e.path());
    fs::current_path(before);

    EXPECT_NE(log.find("] ExtractFile " + archive + " OutputPath " + out + " FileCount 7\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] ExtractFile OutputPath " + out + " FileCount 7\n"), std::string::npos)
        << log;
}

}  // namespace

// FTP server faults a real server cannot be made to show, from a scripted
// server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "support/FakeFtp.h"
#include "transfer/FTPUpdater.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;
using varntest::FakeFtp;
namespace fs = std::filesystem;

namespace {

struct FtpClient {
    explicit FtpClient(int port, const char* path = "p") {
        ftp.SetTimeouts(2, 2, 2);
        ftp.SetConnectInfo("127.0.0.1", port, "varn", "secret", path, path, LAUNCHER_TYPE_SERVICE);
        InstallStopEvent(ftp);
    }
    Recorder rec;
    CFTPUpdater ftp;
};

TEST(FtpFaults, ReadFailuresKeepThePartialFileAndOpenFailuresRemoveIt) {
    const std::string body = Pattern(10000);
    TempDir tmp;
    const std::string local = tmp / "a.lbc";
    {
        SCOPED_TRACE("data connection closed mid-file");
        FakeFtp server({{"p/a.lbc", body}}, [&](FakeFtp::Session& s, const std::string& c, int) {
            if (c != "RETR p/a.lbc")
                return false;
            s.Reply("150 here it comes");
            s.SendData(body.substr(0, 5000));
            s.Reply("426 connection closed; transfer aborted");
            return true;
        });
        FtpClient client(server.port());
        ASSERT_EQ(client.ftp.Connect(), 1);
        EXPECT_EQ(client.ftp.DownloadFile("a.lbc", local.c_str()), 0);
        EXPECT_EQ(ReadFile(local), body.substr(0, 5000));
        EXPECT_EQ(client.rec.Count(NOTIFY_DOWNLOAD_START), 1);
        EXPECT_EQ(client.rec.Count(NOTIFY_DOWNLOAD_END), 0);
        EXPECT_NE(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
        // Past the first byte nothing is retried.
        EXPECT_EQ(std::ranges::count(server.Commands(), std::string("RETR p/a.lbc")), 1);
    }
    for (const int failures : {9, 10}) {
        SCOPED_TRACE(std::to_string(failures) + " failed opens");
        int refused = 0;
        FakeFtp server({{"p/a.lbc", body}}, [&](FakeFtp::Session& s, const std::string& c, int) {
            if (c != "RETR p/a.lbc" || refused == failures)
                return false;
            ++refused;
            s.SendData("");  // the data connection goes unused
            return s.Reply("425 can't open data connection");
        });
        FtpClient client(server.port());
        ASSERT_EQ(client.ftp.Connect(), 1);
        WriteFile(local, "stale");
        const int result = client.ftp.DownloadFile("a.lbc", local.c_str());
        EXPECT_EQ(refused, failures);
        if (failures < CFTPUpdater::kOpenAttempts) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(ReadFile(local) == body);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(fs::exists(local));
            EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12003);
            EXPECT_EQ(std::string(CUpdaterBase::GetLastErrorMessage()).rfind("425", 0), 0u);
        }
    }
}

// The size is kept whole: a file of 4 GiB and more is not taken for its
// low 32 bits (here the server breaks off early, so nothing that large is
// sent).
TEST(FtpFaults, SizesOfFourGigabytesAndMoreAreKeptWhole) {
    const uint64_t huge = (uint64_t{1} << 32) + 10;
    FakeFtp server({}, [&](FakeFtp::Session& s, const std::string& c, int) {
        if (c == "SIZE p/huge.lbc")
            return s.Reply("213 " + std::to_string(huge));
        if (c != "RETR p/huge.lbc")
            return false;
        s.Reply("150 here it comes");
        s.SendData(std::string(4096 * 3, 'h'));
        return s.Reply("426 aborted");
    });
    TempDir tmp;
    FtpClient client(server.port());
    ASSERT_EQ(client.ftp.Connect(), 1);
    EXPECT_EQ(client.ftp.DownloadFile("huge.lbc", (tmp / "huge").c_str()), 0);
    ASSERT_FALSE(client.rec.notes.empty());
    EXPECT_EQ(client.rec.notes.front().code, NOTIFY_DOWNLOAD_START);
    EXPECT_EQ(client.rec.notes.front().fileSize, huge);
}

// Replies cut anywhere and spread over several lines are read whole; a
// server whose current directory is not the root gets paths relative to it.
TEST(FtpFaults, RepliesSplitAcrossReadsAndANonRootLoginDirectory) {
    FakeFtp server(
        {{"p/a.uvf", "abc"}},
        [&](FakeFtp::Session& s, const std::string& c, int) {
            if (c.empty())  // the greeting, in pieces and over several lines
                return s.SendRaw("22") && s.SendRaw("0-welcome\r\n220-to the") &&
                       s.SendRaw(" fake\r\n220 ready\r\n");
            if (c.rfind("SIZE", 0) == 0)
                return s.SendRaw("21") && s.SendRaw("3 3\r") && s.SendRaw("\n");
            return false;
        },
        "/home/varn");
    TempDir tmp;
    Recorder rec;
    CFTPUpdater ftp;
    TempDir::WriteFile(tmp / "LauncherLog.log", "");
    CUpdaterBase::s_nSaveLog = 1;
    ftp.SetBaseDirectory(tmp.path().c_str());
    ftp.SetTimeouts(2, 2, 2);
    ftp.SetConnectInfo("127.0.0.1", server.port(), "varn", "secret", "p", "p",
                       LAUNCHER_TYPE_SERVICE);
    ASSERT_EQ(ftp.Connect(), 1);
    InstallStopEvent(ftp);
    ASSERT_EQ(ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 1);
    EXPECT_EQ(ReadFile(tmp / "a"), "abc");
    std::string log;
    for (const auto& e : fs::directory_iterator(tmp / "Update/Log"))
        log += ReadFile(e.path().string());
    EXPECT_NE(log.find("] DownLoadFile [/home/varn/p/a.uvf]->["), std::string::npos) << log;
}

// A server that accepts and then never answers, or stops answering in the
// middle of a session, ends the operation within the time limits.
TEST(FtpFaults, SilentServerEndsWithinTheTimeLimits) {
    using Clock = std::chrono::steady_clock;
    for (const bool afterLogin : {false, true}) {
        SCOPED_TRACE(afterLogin ? "silent after login" : "silent from the start");
        FakeFtp server({}, [&](FakeFtp::Session& s, const std::string& c, int) {
            if ((c.empty() && !afterLogin) || c.rfind("SIZE", 0) == 0) {
                s.WaitForClose();
                return true;
            }
            return false;
        });
        TempDir tmp;
        FtpClient client(server.port());
        const auto start = Clock::now();
        if (afterLogin) {
            ASSERT_EQ(client.ftp.Connect(), 1);
            EXPECT_EQ(client.ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 0);
            EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12002);
        } else {
            EXPECT_EQ(client.ftp.Connect(), 0);
            EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
        }
        // Generous: the limits are 2 s; libcurl's own default would be 120 s.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
        client.ftp.Disconnect();
    }
}

}  // namespace

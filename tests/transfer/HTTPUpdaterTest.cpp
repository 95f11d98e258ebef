// Downloads from a real nginx on loopback.
#include "transfer/HTTPUpdater.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/Resource.h"
#include "support/FakeServer.h"
#include "support/HttpServer.h"
#include "transfer/CurlSupport.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;

namespace {

const char* const kServicePath = "kor/varn/service";

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override {
        root = tmp.path() + "/www";
        std::filesystem::create_directories(root + "/" + kServicePath);
        server = std::make_unique<varntest::HttpServer>(
            root, "location = /kor/varn/service/broken.uvf { return 500; }");
        http.SetConnectInfo("127.0.0.1", server->port(), nullptr, nullptr, kServicePath,
                            "kor/varn/test", LAUNCHER_TYPE_SERVICE);
        ASSERT_EQ(http.Connect(), 1);
        InstallStopEvent(http);
    }
    std::string Publish(const std::string& name, const std::string& data) {
        WriteFile(root + "/" + kServicePath + "/" + name, data);
        return data;
    }

    TempDir tmp;
    std::string root;
    std::unique_ptr<varntest::HttpServer> server;
    Recorder rec;
    CHTTPUpdater http;
};

TEST_F(HttpDownload, WholeFilesArriveInBlocksWithProgress) {
    struct Case {
        std::string name;
        size_t size;
    } cases[] = {
        {"update.uvf", 10},
        {"exact.lbc", 3 * 4096},
        {"odd.lbc", 3 * 4096 + 17},
        {"LAUNCHER/LAUNCHER_1.0.6.2.lbc", 5000},
        {"with blank & plus+percent%.lbc", 100},
        {"large.lbc", 20 * 1024 * 1024 + 1},
    };
    uint64_t total = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string data = Publish(c.name, Pattern(c.size));
        rec.notes.clear();
        std::string local = tmp / "local.bin";
        ASSERT_EQ(http.DownloadFile(c.name.c_str(), local.c_str()), 1);
        EXPECT_TRUE(ReadFile(local) == data);

        // Blocks hold at most 4 KiB; the network decides where they end.
        ASSERT_GE(rec.notes.size(), (c.size + 4095) / 4096 + 2);
        EXPECT_EQ(rec.notes.front().code, NOTIFY_DOWNLOAD_START);
        EXPECT_EQ(rec.notes.front().fileName, c.name);
        EXPECT_EQ(rec.notes.front().fileSize, c.size);
        EXPECT_EQ(rec.notes.front().fileReceived, 0u);
        uint64_t got = 0;
        for (size_t i = 1; i + 1 < rec.notes.size(); ++i) {
            const Note& n = rec.notes[i];
            ASSERT_EQ(n.code, NOTIFY_DOWNLOAD_PROGRESS);
            ASSERT_TRUE(n.lastRead > 0 && n.lastRead <= 4096);
            got += n.lastRead;
            ASSERT_EQ(n.fileReceived, got);
        }
        EXPECT_EQ(got, c.size);
        EXPECT_EQ(rec.notes.back().code, NOTIFY_DOWNLOAD_END);
        total += c.size;
        EXPECT_EQ(rec.notes.back().totalReceived, total);
    }
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
}

TEST_F(HttpDownload, RemotePathUsesTheDirectoryAsStored) {
    WriteFile(root + "/top.uvf", "top");
    Publish("in.uvf", "in");
    std::string local = tmp / "x";
    ASSERT_EQ(http.DownloadFile("in.uvf", local.c_str()), 1);
    http.SetLauncherPath("");
    ASSERT_EQ(http.DownloadFile("top.uvf", local.c_str()), 1);
    EXPECT_EQ(ReadFile(local), "top");
    auto log = server->AccessLog(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find(" /kor/varn/service/in.uvf"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(" /top.uvf"), std::string::npos) << log[1];
}

TEST_F(HttpDownload, ManyFilesShareOneConnection) {
    for (int i = 0; i < 10; ++i)
        Publish("f" + std::to_string(i), Pattern(1000 + i));
    for (int i = 0; i < 10; ++i) {
        std::string name = "f" + std::to_string(i);
        ASSERT_EQ(http.DownloadFile(name.c_str(), (tmp / name).c_str()), 1);
        if (i > 0) {
            EXPECT_EQ(http.LastNewConnections(), 0) << name;
        }
    }
    EXPECT_EQ(server->ConnectionCount(10), 1);
}

TEST_F(HttpDownload, EmptyFileStandsButIsReported) {
    Publish("empty.uvf", "");
    std::string local = tmp / "empty";
    WriteFile(local, "old content");
    EXPECT_EQ(http.DownloadFile("empty.uvf", local.c_str()), 1);
    EXPECT_TRUE(std::filesystem::exists(local));
    EXPECT_EQ(std::filesystem::file_size(local), 0u);
    EXPECT_EQ(rec.Codes(), (std::vector<int>{NOTIFY_ERROR, NOTIFY_DOWNLOAD_END}));
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
}

TEST_F(HttpDownload, ErrorStatusNeverBecomesTheFile) {
    struct Case {
        const char* name;
        const char* status;
    } cases[] = {{"missing.uvf", "404"}, {"broken.uvf", "500"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.notes.clear();
        std::string local = tmp / "update.uvf";
        WriteFile(local, "stale");
        EXPECT_EQ(http.DownloadFile(c.name, local.c_str()), 0);
        EXPECT_FALSE(std::filesystem::exists(local));
        EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12003);
        EXPECT_NE(std::string(CUpdaterBase::GetLastErrorMessage()).find(c.status),
                  std::string::npos);
        EXPECT_EQ(rec.Codes(), std::vector<int>{NOTIFY_ERROR});
        // The failure leaves the connection usable.
        EXPECT_EQ(http.GetConnectState(), CONNECT_STATE_CONNECTED);
    }
    Publish("ok.uvf", "ok");
    EXPECT_EQ(http.DownloadFile("ok.uvf", (tmp / "ok").c_str()), 1);
}

TEST_F(HttpDownload, StopEventEndsTheDownloadQuietly) {
    const size_t size = 64 * 4096;
    Publish("big.lbc", Pattern(size));
    std::string local = tmp / "big.lbc";

    // Without an installed event nothing is read.
    http.SetStopEvent(nullptr);
    EXPECT_EQ(http.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(local), 0u);
    EXPECT_EQ(rec.Codes(), std::vector<int>{NOTIFY_DOWNLOAD_START});

    // A stop requested from another thread during the third block ends the
    // download right after it.
    rec.notes.clear();
    InstallStopEvent(http);
    rec.onNote = [&](const Note& n) {
        if (n.code == NOTIFY_DOWNLOAD_PROGRESS && rec.Count(NOTIFY_DOWNLOAD_PROGRESS) == 3)
            std::thread([&] { RequestStop(http); }).join();
    };
    EXPECT_EQ(http.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_PROGRESS), 3);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END), 0);
    EXPECT_EQ(rec.Count(NOTIFY_ERROR), 0);
    // What was reported is what was kept.
    EXPECT_EQ(std::filesystem::file_size(local), rec.notes.back().fileReceived);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
}

TEST(HttpConnect, FailuresAndDefaults) {
    Recorder rec;
    CHTTPUpdater http;
    // No address: fails without recording anything.
    EXPECT_EQ(http.Connect(), 0);
    EXPECT_EQ(http.GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_TRUE(rec.notes.empty());

    // A closed port: the connection failure of the run (custom 2004).
    int port = varntest::PickFreePort();
    EXPECT_EQ(http.ConnectTo("127.0.0.1", port, nullptr, nullptr), 0);
    EXPECT_EQ(http.GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_EQ(http.GetConnectHandle(), nullptr);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_CUSTOM);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12029);
    char text[260];
    plat::LoadResourceString(nullptr, IDS_CONNECT_FAIL, text, sizeof text);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), text);

    // Port 0 means the HTTP port.
    http.SetPort(0);
    http.Connect();
    EXPECT_EQ(http.GetPort(), 80u);

    // Downloading without a connection fails and records why.
    TempDir tmp;
    InstallStopEvent(http);
    http.Disconnect();
    EXPECT_EQ(http.DownloadFile("update.uvf", (tmp / "u").c_str()), 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
}

}  // namespace

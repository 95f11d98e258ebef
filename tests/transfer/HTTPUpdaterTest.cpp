// Downloads from a real nginx on loopback; the rules every transfer class shares.
#include "transfer/HTTPUpdater.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "support/HttpServer.h"
#include "transfer/FTPUpdater.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;

namespace {

const char* const kServicePath = "kor/varn/service";

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override {
        root = tmp / "www";
        std::filesystem::create_directories(root);
        server = std::make_unique<varntest::HttpServer>(root);
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
    const std::pair<std::string, size_t> cases[] = {{"update.uvf", 10},
                                                    {"exact.lbc", 3 * 4096},
                                                    {"with blank & plus+percent%.lbc", 100},
                                                    {"large.lbc", 20 * 1024 * 1024 + 1}};
    uint64_t total = 0;
    for (const auto& [name, size] : cases) {
        SCOPED_TRACE(name);
        std::string data = Publish(name, Pattern(size));
        rec.notes.clear();
        ASSERT_EQ(http.DownloadFile(name.c_str(), (tmp / "local.bin").c_str()), 1);
        EXPECT_TRUE(ReadFile(tmp / "local.bin") == data);

        ASSERT_GE(rec.notes.size(), (size + 4095) / 4096 + 2);
        const Note& n0 = rec.notes.front();
        EXPECT_TRUE(n0.code == NOTIFY_DOWNLOAD_START && n0.fileName == name &&
                    n0.fileSize == size && n0.fileReceived == 0);
        uint64_t got = 0;
        for (size_t i = 1; i + 1 < rec.notes.size(); ++i) {
            const Note& n = rec.notes[i];
            ASSERT_EQ(n.code, NOTIFY_DOWNLOAD_PROGRESS);
            ASSERT_TRUE(n.lastRead > 0 && n.lastRead <= 4096);
            got += n.lastRead;
            ASSERT_EQ(n.fileReceived, got);
        }
        EXPECT_EQ(got, size);
        EXPECT_EQ(rec.notes.back().code, NOTIFY_DOWNLOAD_END);
        EXPECT_EQ(rec.notes.back().totalReceived, total += size);
    }
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
}

TEST_F(HttpDownload, FilesShareOneConnectionAndUseTheStoredDirectory) {
    for (int i = 0; i < 5; ++i) {
        std::string name = "f" + std::to_string(i);
        Publish(name, Pattern(1000 + i));
        ASSERT_EQ(http.DownloadFile(name.c_str(), (tmp / name).c_str()), 1);
        EXPECT_TRUE(i == 0 || http.LastNewConnections() == 0) << name;
    }
    WriteFile(root + "/top.uvf", "top");
    http.SetLauncherPath("");
    ASSERT_EQ(http.DownloadFile("top.uvf", (tmp / "x").c_str()), 1);
    EXPECT_EQ(ReadFile(tmp / "x"), "top");
    EXPECT_EQ(server->ConnectionCount(6), 1);
    auto log = server->AccessLog(6);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_NE(log[0].find(" /kor/varn/service/f0"), std::string::npos) << log[0];
    EXPECT_NE(log[5].find(" /top.uvf"), std::string::npos) << log[5];
}

TEST_F(HttpDownload, ErrorStatusNeverBecomesTheFileButAnEmptyBodyDoes) {
    std::string local = tmp / "update.uvf";
    WriteFile(local, "stale");
    EXPECT_EQ(http.DownloadFile("missing.uvf", local.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(local));
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12003);
    EXPECT_NE(std::string(CUpdaterBase::GetLastErrorMessage()).find("404"), std::string::npos);
    EXPECT_EQ(rec.Codes(), std::vector<int>{NOTIFY_ERROR});
    EXPECT_EQ(http.GetConnectState(), CONNECT_STATE_CONNECTED);
    Publish("empty.uvf", "");
    rec.notes.clear();
    local = tmp / "empty";
    WriteFile(local, "old content");
    EXPECT_EQ(http.DownloadFile("empty.uvf", local.c_str()), 1);
    EXPECT_TRUE(std::filesystem::exists(local) && std::filesystem::file_size(local) == 0);
    EXPECT_EQ(rec.Codes(), (std::vector<int>{NOTIFY_ERROR, NOTIFY_DOWNLOAD_END}));
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
}

TEST_F(HttpDownload, StopEventEndsTheDownloadQuietly) {
    Publish("big.lbc", Pattern(64 * 4096));
    std::string local = tmp / "big.lbc";

    http.SetStopEvent(nullptr);
    EXPECT_EQ(http.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(local), 0u);
    EXPECT_EQ(rec.Codes(), std::vector<int>{NOTIFY_DOWNLOAD_START});

    rec.notes.clear();
    InstallStopEvent(http);
    rec.onNote = [&](const Note& n) {
        if (n.code == NOTIFY_DOWNLOAD_PROGRESS && rec.Count(NOTIFY_DOWNLOAD_PROGRESS) == 3)
            std::thread([&] { RequestStop(http); }).join();
    };
    EXPECT_EQ(http.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_PROGRESS), 3);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END) + rec.Count(NOTIFY_ERROR), 0);
    EXPECT_EQ(std::filesystem::file_size(local), rec.notes.back().fileReceived);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
}

std::unique_ptr<CProtocolUpdaterBase> Make(TransferProtocol protocol) {
    return std::unique_ptr<CProtocolUpdaterBase>(
        static_cast<CProtocolUpdaterBase*>(CreateProtocolUpdater(protocol)));
}

TEST(ProtocolUpdater, FactoryAndConnectFailures) {
    Recorder rec;
    auto http = Make(TransferProtocol::HTTP);
    ASSERT_NE(dynamic_cast<CHTTPUpdater*>(http.get()), nullptr);
    EXPECT_EQ(http->ConnectTo("127.0.0.1", varntest::PickFreePort(), nullptr, nullptr), 0);
    EXPECT_EQ(http->GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_EQ(http->GetConnectHandle(), nullptr);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_CUSTOM);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12029);
    TempDir tmp;
    InstallStopEvent(*http);
    EXPECT_EQ(http->DownloadFile("update.uvf", (tmp / "u").c_str()), 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);

    auto ftp = Make(TransferProtocol::FTP);
    ASSERT_NE(dynamic_cast<CFTPUpdater*>(ftp.get()), nullptr);
    EXPECT_EQ(ftp->ConnectTo("127.0.0.1", varntest::PickFreePort(), nullptr, nullptr), 0);
    EXPECT_EQ(ftp->GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
}

TEST(ProtocolUpdater, SettingsKeepOrReplaceValues) {
    Recorder rec;
    auto u = Make(TransferProtocol::FTP);
    u->SetConnectInfo("host", 8080, "user", "pw", "svc/path", "test/path", LAUNCHER_TYPE_TEST);
    EXPECT_STREQ(u->GetDefaultPath(), "test/path");
    u->SetLauncherType(2);  // neither test nor service: keeps the path
    EXPECT_STREQ(u->GetDefaultPath(), "test/path");
    u->SetLauncherType(LAUNCHER_TYPE_SERVICE);
    EXPECT_STREQ(u->GetDefaultPath(), "svc/path");
    u->SetAddress("");  // empty values never replace
    EXPECT_STREQ(u->GetAddress(), "host");

    u->SetConnectInfo("h2", 0, nullptr, nullptr, nullptr, nullptr, LAUNCHER_TYPE_SERVICE);
    EXPECT_STREQ(u->GetUserID(), "");
    EXPECT_STREQ(u->GetPassword(), "");
    EXPECT_STREQ(u->GetServicePath(), "svc/path");
    EXPECT_STREQ(u->GetTestPath(), "test/path");

    std::string longPath(400, 'p');
    u->SetLauncherPath(longPath.c_str());
    EXPECT_EQ(std::string(u->GetDefaultPath()), longPath.substr(0, 259));
}

TEST(ProtocolUpdater, DestructionReleasesTheStopEvent) {
    plat::EventHandle copy;
    {
        CHTTPUpdater http;
        InstallStopEvent(http);
        copy = http.GetStopEvent();
        EXPECT_EQ(plat::WaitForSingleObject(copy, 0), plat::WAIT_TIMEOUT_CODE);
    }
    EXPECT_NE(plat::WaitForSingleObject(copy, 0), plat::WAIT_TIMEOUT_CODE);
}

}  // namespace

// Downloads from a real nginx on loopback; the rules every transfer class shares.
#include "transfer/HTTPUpdater.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/TransferErrors.h"
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

namespace {

// Runs a shell command line; true when it exits 0.
bool Shell(const std::string& line) {
    return std::system(line.c_str()) == 0;
}

// A download through a fresh HTTP(S) transfer object with the given options.
int FetchWith(TransferProtocol protocol, int port, const TransferOptions& options,
              const std::string& remote, const std::string& local) {
    std::unique_ptr<CProtocolUpdater> u(CreateProtocolUpdater(protocol));
    u->SetConnectInfo("127.0.0.1", port, nullptr, nullptr, kServicePath, kServicePath,
                      LAUNCHER_TYPE_SERVICE);
    u->SetTransferOptions(options);
    InstallStopEvent(*u);
    return u->Connect() && u->DownloadFile(remote.c_str(), local.c_str());
}

}  // namespace

// A local file holding the start of the remote one is continued from its end
// (206, progress counting the held bytes as done); a server that ignores
// ranges sends it whole over it; a held start longer than the file is
// dropped rather than kept.
TEST_F(HttpDownload, HeldStartIsContinuedOrReplacedWhole) {
    const std::string data = Publish("a.lbc", Pattern(300000));
    const std::string local = tmp / "a.lbc";
    WriteFile(local, data.substr(0, 100000));
    ASSERT_EQ(http.ResumeFile("a.lbc", local.c_str()), 1);
    EXPECT_TRUE(ReadFile(local) == data);
    ASSERT_FALSE(rec.notes.empty());
    EXPECT_TRUE(rec.notes.front().code == NOTIFY_DOWNLOAD_START &&
                rec.notes.front().fileReceived == 100000 && rec.notes.front().fileSize == 300000);
    EXPECT_EQ(rec.notes.back().totalReceived, 300000u);
    const std::vector<std::string> log = server->DetailLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("206 200000 [bytes=100000-]")) << log[0];

    WriteFile(local, std::string(400000, 'x'));
    EXPECT_EQ(http.ResumeFile("a.lbc", local.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(local));

    varntest::HttpServer noRanges(root, "max_ranges 0;");
    WriteFile(local, std::string(100000, 'x'));
    CHTTPUpdater other;
    other.SetConnectInfo("127.0.0.1", noRanges.port(), nullptr, nullptr, kServicePath, kServicePath,
                         LAUNCHER_TYPE_SERVICE);
    InstallStopEvent(other);
    ASSERT_EQ(other.Connect(), 1);
    ASSERT_EQ(other.ResumeFile("a.lbc", local.c_str()), 1);
    EXPECT_TRUE(ReadFile(local) == data);
}

// HTTPS: a certificate the client trusts through the CA file serves; without
// it the connection is refused with a clear error and nothing is asked of
// the server, in plain HTTP or otherwise.
TEST_F(HttpDownload, HttpsNeedsATrustedCertificateAndNeverFallsBack) {
    const std::string cert = tmp / "cert.pem", key = tmp / "key.pem";
    ASSERT_TRUE(
        Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
              " -addext subjectAltName=IP:127.0.0.1 -keyout " +
              key + " -out " + cert + " 2>/dev/null"));
    const int tlsPort = varntest::PickFreePort();
    varntest::HttpServer tls(root, "listen 127.0.0.1:" + std::to_string(tlsPort) +
                                       " ssl; ssl_certificate " + cert + "; ssl_certificate_key " +
                                       key + ";");
    const std::string data = Publish("secure.lbc", Pattern(50000));
    const std::string local = tmp / "secure.lbc";

    EXPECT_EQ(FetchWith(TransferProtocol::HTTPS, tlsPort, {}, "secure.lbc", local), 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), TRANSFER_ERROR_INVALID_CA);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);

    TransferOptions trusted;
    trusted.caFile = cert;
    ASSERT_EQ(FetchWith(TransferProtocol::HTTPS, tlsPort, trusted, "secure.lbc", local), 1);
    EXPECT_TRUE(ReadFile(local) == data);
    EXPECT_EQ(tls.AccessLog(1).size(), 1u) << "only the trusted request reached the server";
}

// A proxy from the settings, and one from the environment when the settings
// name none, carry the requests.
TEST_F(HttpDownload, ProxyFromSettingsOrEnvironmentCarriesTheRequests) {
    std::filesystem::create_directories(tmp / "empty");
    varntest::HttpServer proxy(tmp / "empty", "location / { proxy_pass http://$http_host$uri; }");
    const std::string data = Publish("via.lbc", Pattern(20000));
    const std::string local = tmp / "via.lbc";
    TransferOptions viaProxy;
    viaProxy.proxy = proxy.url();
    ASSERT_EQ(FetchWith(TransferProtocol::HTTP, server->port(), viaProxy, "via.lbc", local), 1);
    EXPECT_TRUE(ReadFile(local) == data);
    EXPECT_EQ(proxy.Requests("via.lbc", 1), 1);

    for (const char* name : {"no_proxy", "NO_PROXY"})
        unsetenv(name);
    setenv("http_proxy", proxy.url().c_str(), 1);
    const int fromEnvironment =
        FetchWith(TransferProtocol::HTTP, server->port(), {}, "via.lbc", local);
    unsetenv("http_proxy");
    ASSERT_EQ(fromEnvironment, 1);
    EXPECT_EQ(proxy.Requests("via.lbc", 2), 2);
    EXPECT_EQ(server->Requests("via.lbc", 2), 2);
}

// The rate cap holds a 4 MiB file at 1 MiB/s to well over three seconds
// (a lower bound only: a slow machine may take longer).
TEST_F(HttpDownload, RateCapSlowsTheDownload) {
    Publish("big.lbc", Pattern(4 << 20));
    TransferOptions capped;
    capped.maxBytesPerSecond = 1 << 20;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(FetchWith(TransferProtocol::HTTP, server->port(), capped, "big.lbc", tmp / "big"), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
}

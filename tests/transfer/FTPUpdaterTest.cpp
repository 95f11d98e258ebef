// Downloads from a real FTP server (pyftpdlib) on loopback: the FTP rules,
// the kept login and its keep-alive.
#include "transfer/FTPUpdater.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "support/FtpServer.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;
namespace fs = std::filesystem;

namespace {

const char* const kServicePath = "kor/varn/service";

class FtpDownload : public ::testing::Test {
protected:
    void SetUp() override { Start(varntest::FtpServer::Options()); }
    void Start(const varntest::FtpServer::Options& options) {
        root = tmp / "ftproot";
        fs::create_directories(root);
        server = std::make_unique<varntest::FtpServer>(root, options);
        // The update log, for the lines a download writes.
        TempDir::WriteFile(tmp / "LauncherLog.log", "");
        CUpdaterBase::s_nSaveLog = 1;
        ftp.SetBaseDirectory(tmp.path().c_str());
        ftp.SetConnectInfo("127.0.0.1", server->port(), options.user.c_str(),
                           options.password.c_str(), kServicePath, "kor/varn/test",
                           LAUNCHER_TYPE_SERVICE);
        ASSERT_EQ(ftp.Connect(), 1);
        InstallStopEvent(ftp);
    }
    std::string Publish(const std::string& name, const std::string& data) {
        WriteFile(root + "/" + kServicePath + "/" + name, data);
        return data;
    }
    std::string Log() {
        std::string log;
        for (const auto& e : fs::directory_iterator(tmp / "Update/Log"))
            log += ReadFile(e.path().string());
        return log;
    }

    TempDir tmp;
    std::string root;
    std::unique_ptr<varntest::FtpServer> server;
    Recorder rec;
    CFTPUpdater ftp;
};

// Every file travels over the one login, asked for relative to the login
// directory, in blocks with progress; the log shows the absolute path.
TEST_F(FtpDownload, FilesArriveInBlocksOverOneLogin) {
    const std::pair<std::string, size_t> cases[] = {{"update.uvf", 10},
                                                    {"exact.lbc", 3 * 4096},
                                                    {"with blank.lbc", 100},
                                                    {"large.lbc", 5 << 20}};
    uint64_t total = 0;
    for (const auto& [name, size] : cases) {
        SCOPED_TRACE(name);
        const std::string data = Publish(name, Pattern(size));
        rec.notes.clear();
        const std::string local = tmp / "local.bin";
        ASSERT_EQ(ftp.DownloadFile(name.c_str(), local.c_str()), 1);
        EXPECT_TRUE(ReadFile(local) == data);
        ASSERT_GE(rec.notes.size(), (size + 4095) / 4096 + 2);
        const Note& n0 = rec.notes.front();
        EXPECT_TRUE(n0.code == NOTIFY_DOWNLOAD_START && n0.fileName == name &&
                    n0.fileSize == size && n0.fileReceived == 0);
        uint64_t got = 0;
        for (size_t i = 1; i + 1 < rec.notes.size(); ++i) {
            ASSERT_EQ(rec.notes[i].code, NOTIFY_DOWNLOAD_PROGRESS);
            ASSERT_TRUE(rec.notes[i].lastRead > 0 && rec.notes[i].lastRead <= 4096);
            got += rec.notes[i].lastRead;
            ASSERT_EQ(rec.notes[i].fileReceived, got);
        }
        EXPECT_EQ(got, size);
        EXPECT_EQ(rec.notes.back().code, NOTIFY_DOWNLOAD_END);
        EXPECT_EQ(rec.notes.back().totalReceived, total += size);
        EXPECT_NE(Log().find("] DownLoadFile [/kor/varn/service/" + name + "]->[" + local + "]"),
                  std::string::npos);
    }
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
    EXPECT_EQ(server->Count("USER", "", 1), 1);
    EXPECT_EQ(server->Requests("RETR kor/varn/service/large.lbc", 1), 1);

    // An empty file stands, with the recorded error and the end notification.
    Publish("empty.uvf", "");
    rec.notes.clear();
    const std::string local = tmp / "empty";
    WriteFile(local, "old content");
    EXPECT_EQ(ftp.DownloadFile("empty.uvf", local.c_str()), 1);
    EXPECT_TRUE(fs::exists(local) && fs::file_size(local) == 0);
    EXPECT_EQ(rec.Codes(), (std::vector<int>{NOTIFY_ERROR, NOTIFY_DOWNLOAD_END}));

    // The server root itself as the remote directory.
    WriteFile(root + "/top.uvf", "top");
    ftp.SetLauncherPath("");
    ASSERT_EQ(ftp.DownloadFile("top.uvf", local.c_str()), 1);
    EXPECT_EQ(ReadFile(local), "top");
}

// A local file holding the start of the remote one is continued from its
// end with REST, the held bytes counted as done.
TEST_F(FtpDownload, HeldStartIsContinuedFromItsEnd) {
    const std::string data = Publish("a.lbc", Pattern(300000));
    const std::string local = tmp / "a.lbc";
    WriteFile(local, data.substr(0, 100000));
    ASSERT_EQ(ftp.ResumeFile("a.lbc", local.c_str()), 1);
    EXPECT_TRUE(ReadFile(local) == data);
    ASSERT_FALSE(rec.notes.empty());
    EXPECT_TRUE(rec.notes.front().code == NOTIFY_DOWNLOAD_START &&
                rec.notes.front().fileReceived == 100000 && rec.notes.front().fileSize == 300000);
    EXPECT_EQ(server->Count("REST 100000", "", 1), 1);
    EXPECT_EQ(server->Requests("RETR kor/varn/service/a.lbc", 1), 1);
}

TEST_F(FtpDownload, MissingFileAndRefusedLoginAreReportedWithoutThePassword) {
    const std::string local = tmp / "missing";
    EXPECT_EQ(ftp.DownloadFile("missing.lbc", local.c_str()), 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12003);
    EXPECT_EQ(std::string(CUpdaterBase::GetLastErrorMessage()).rfind("550", 0), 0u)
        << CUpdaterBase::GetLastErrorMessage();
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_START), 0);
    EXPECT_EQ(ftp.GetConnectState(), CONNECT_STATE_CONNECTED);

    ftp.SetPassword("wrong-word");
    EXPECT_EQ(ftp.Connect(), 0);
    EXPECT_EQ(ftp.GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_EQ(ftp.GetConnectHandle(), nullptr);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12015);
    const std::string log = Log();
    EXPECT_NE(log.find("InternetConnect Ftp Failed. (address 127.0.0.1:" +
                       std::to_string(server->port()) + " id/pass varn/****)"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("wrong-word"), std::string::npos);
    EXPECT_EQ(log.find("secret"), std::string::npos);
    // Nothing to download on without a login.
    EXPECT_EQ(ftp.DownloadFile("update.uvf", local.c_str()), 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
}

TEST_F(FtpDownload, StopEventEndsTheDownloadAndKeepsThePartialFile) {
    Publish("big.lbc", Pattern(64 * 4096));
    const std::string local = tmp / "big.lbc";
    ftp.SetStopEvent(nullptr);
    EXPECT_EQ(ftp.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(fs::file_size(local), 0u);
    EXPECT_EQ(rec.Codes(), std::vector<int>{NOTIFY_DOWNLOAD_START});

    rec.notes.clear();
    InstallStopEvent(ftp);
    rec.onNote = [&](const Note& n) {
        if (n.code == NOTIFY_DOWNLOAD_PROGRESS && rec.Count(NOTIFY_DOWNLOAD_PROGRESS) == 3)
            std::thread([&] { RequestStop(ftp); }).join();
    };
    EXPECT_EQ(ftp.DownloadFile("big.lbc", local.c_str()), 0);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_PROGRESS), 3);
    EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END) + rec.Count(NOTIFY_ERROR), 0);
    EXPECT_EQ(fs::file_size(local), rec.notes.back().fileReceived);
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
    // The connection is still good for the next file.
    InstallStopEvent(ftp);
    rec.onNote = nullptr;
    EXPECT_EQ(ftp.DownloadFile("big.lbc", local.c_str()), 1);
}

// While the engine works locally the keep-alive sends NOOP on the kept
// login; stopping it joins its thread, and downloads go on over the login.
TEST_F(FtpDownload, KeepAliveSendsNoopOnTheKeptLoginUntilStopped) {
    Publish("a.uvf", "a");
    ftp.StopKeepAlive();  // none running: nothing happens
    EXPECT_FALSE(ftp.KeepAliveRunning());
    ftp.SetKeepAliveInterval(50);
    ftp.StartKeepAlive();
    ftp.StartKeepAlive();  // ignored while one runs
    ASSERT_TRUE(ftp.KeepAliveRunning());
    EXPECT_GE(server->Count("NOOP", "", 3), 3);
    // A download meanwhile shares the connection with it.
    EXPECT_EQ(ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 1);
    ftp.StopKeepAlive();
    EXPECT_FALSE(ftp.KeepAliveRunning());
    const int noops = server->Count("NOOP", "", 0);
    EXPECT_EQ(ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 1);
    EXPECT_EQ(server->Count("NOOP", "", 0), noops);
    EXPECT_EQ(server->Count("USER", "", 1), 1);
    const std::string log = Log();
    for (const char* line : {"] Start Send NOOP\n", "] Send Noop Succeed\n", "] End Send NOOP\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;

    // A lost connection ends the keep-alive at its next tick; a new one
    // starts afresh.
    ftp.StartKeepAlive();
    ftp.Disconnect();
    for (int i = 0; i < 200 && Log().find("] Not Connected Ftp Server\n") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(Log().find("] Not Connected Ftp Server\n"), std::string::npos);
    ASSERT_EQ(ftp.Connect(), 1);
    ftp.StartKeepAlive();
    EXPECT_TRUE(ftp.KeepAliveRunning());
    EXPECT_GE(server->Count("NOOP", "", noops + 1), noops + 1);
}

// The server closes a login that stays idle too long (421); the next
// download logs in again instead of failing the run.
TEST(FtpIdle, ConnectionClosedByTheServerIsReopenedByTheNextDownload) {
    TempDir tmp;
    Recorder rec;
    WriteFile(tmp / "root/p/a.uvf", "first");
    varntest::FtpServer::Options options;
    options.idleTimeout = 1;
    varntest::FtpServer server(tmp / "root", options);
    CFTPUpdater ftp;
    ftp.SetConnectInfo("127.0.0.1", server.port(), "varn", "secret", "p", "p",
                       LAUNCHER_TYPE_SERVICE);
    ASSERT_EQ(ftp.Connect(), 1);
    InstallStopEvent(ftp);
    ASSERT_EQ(ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 1);
    ASSERT_EQ(server.Replies("421", 1), 1);  // the server dropped the idle login
    ASSERT_EQ(ftp.DownloadFile("a.uvf", (tmp / "a").c_str()), 1);
    EXPECT_EQ(ReadFile(tmp / "a"), "first");
    EXPECT_EQ(server.Count("USER", "", 2), 2);
}

}  // namespace

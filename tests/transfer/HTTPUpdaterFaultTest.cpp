// Server faults that nginx cannot be made to show, from a scripted server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/FakeServer.h"
#include "transfer/HTTPUpdater.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;
using varntest::FakeServer;

namespace {

struct Fault {
    const char* what;
    FakeServer::Script script;
    uint32_t error;      // recorded error number
    size_t localSize;    // bytes left in the local file
    bool startNotified;  // notification 5 was sent
};

std::string Head(size_t length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

TEST(HttpFaults, BrokenRepliesFailWithoutHanging) {
    const Fault faults[] = {
        {"connection dropped mid-body",
         [](FakeServer::Connection& c) {
             c.ReadRequest();
             c.Send(Head(10000) + std::string(5000, 'x'));
         },
         12030, 5000, true},
        {"silent after the request",
         [](FakeServer::Connection& c) {
             c.ReadRequest();
             c.WaitForClose();
         },
         12002, 0, false},
        {"silent in the middle of the body",
         [](FakeServer::Connection& c) {
             c.ReadRequest();
             c.Send(Head(10000) + std::string(100, 'x'));
             c.WaitForClose();
         },
         12002, 100, true},
        {"no content length",
         [](FakeServer::Connection& c) {
             c.ReadRequest();
             c.Send("HTTP/1.0 200 OK\r\n\r\nbody without length");
         },
         12150, 0, false},
        {"not an HTTP reply",
         [](FakeServer::Connection& c) {
             c.ReadRequest();
             c.Send("421 Service not available, closing control connection.\r\n");
         },
         12152, 0, false},
        {"closed without a reply", [](FakeServer::Connection& c) { c.ReadRequest(); }, 12030, 0,
         false},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        Recorder rec;
        TempDir tmp;
        FakeServer server(f.script);
        CHTTPUpdater http;
        http.SetTimeouts(5, 1);
        ASSERT_EQ(http.ConnectTo("127.0.0.1", server.port(), nullptr, nullptr), 1);
        InstallStopEvent(http);
        std::string local = tmp / "update.uvf";
        EXPECT_EQ(http.DownloadFile("update.uvf", local.c_str()), 0);
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
        EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), static_cast<int>(f.error));
        EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END), 0);
        EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_START), f.startNotified ? 1 : 0);
        EXPECT_EQ(ReadFile(local).size(), f.localSize);
    }
}

TEST(HttpFaults, RequestAsksForAFreshCopy) {
    std::string request;
    FakeServer server([&](FakeServer::Connection& c) {
        request = c.ReadRequest();
        c.Send(Head(2) + "ok");
    });
    Recorder rec;
    TempDir tmp;
    CHTTPUpdater http;
    http.SetConnectInfo("127.0.0.1", server.port(), "user", "secret", "a b", nullptr,
                        LAUNCHER_TYPE_SERVICE);
    ASSERT_EQ(http.Connect(), 1);
    InstallStopEvent(http);
    ASSERT_EQ(http.DownloadFile("x#y?.uvf", (tmp / "x").c_str()), 1);
    EXPECT_EQ(request.rfind("GET /a%20b/x%23y%3F.uvf HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("Cache-Control: no-cache\r\n"), std::string::npos);
    EXPECT_NE(request.find("Pragma: no-cache\r\n"), std::string::npos);
    EXPECT_NE(request.find("User-Agent: UPDATE_HTTP\r\n"), std::string::npos);
    EXPECT_NE(request.find("Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos);
}

// Reads the whole update log written under dir.
std::string UpdateLogText(const std::string& dir) {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(dir + "/Log"))
        all += ReadFile(e.path().string());
    return all;
}

TEST(HttpFaults, LogLinesTellWhatHappened) {
    TempDir tmp;
    const std::string cwd = std::filesystem::current_path().string();
    WriteFile(tmp / "LauncherLog.log", "");
    Recorder rec;
    CUpdaterBase::s_nSaveLog = 1;
    FakeServer server([](FakeServer::Connection& c) {
        c.ReadRequest();
        c.Send(Head(10) + "short");
    });
    std::string local = tmp / "local.bin";
    for (int userMode : {0, 1}) {
        CHTTPUpdater http;
        // The first updater built enters the program's directory.
        ASSERT_EQ(chdir(tmp.path().c_str()), 0);
        std::snprintf(http.m_szUpdatePath, sizeof http.m_szUpdatePath, "%s/u%d", tmp.path().c_str(),
                      userMode);
        std::filesystem::create_directories(http.m_szUpdatePath);
        http.m_nUserLogMode = userMode;
        http.SetConnectInfo("127.0.0.1", server.port(), "id", "pw", "svc", "tst",
                            LAUNCHER_TYPE_SERVICE);
        ASSERT_EQ(http.Connect(), 1);
        EXPECT_EQ(http.DownloadFile("update.uvf", local.c_str()), 0);  // no stop event
        InstallStopEvent(http);
        EXPECT_EQ(http.DownloadFile("update.uvf", local.c_str()), 0);  // body cut short

        std::string log = UpdateLogText(tmp / ("u" + std::to_string(userMode)));
        const std::string port = std::to_string(server.port());
        EXPECT_NE(log.find("SetLauncherType - CHTTPUpdater LAUNCHER_TYPE_SERVICE\n"),
                  std::string::npos);
        EXPECT_NE(log.find("CHTTPUpdater::DownloadFile szHttpPath -  /svc/update.uvf\n"),
                  std::string::npos);
        EXPECT_NE(log.find("WaitForSingleObject fail\n"), std::string::npos);
        EXPECT_NE(log.find("InternetReadFile fail\n"), std::string::npos);
        if (userMode) {
            EXPECT_NE(log.find("Connect Update Server\n"), std::string::npos);
            EXPECT_NE(log.find("DownLoadFile update.uvf\n"), std::string::npos);
            EXPECT_EQ(log.find("Connect 127.0.0.1"), std::string::npos);
        } else {
            EXPECT_NE(log.find("Connect 127.0.0.1:" + port + "\n"), std::string::npos);
            EXPECT_NE(log.find("DownLoadFile [/svc/update.uvf]->[" + local + "]\n"),
                      std::string::npos);
        }
    }
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

}  // namespace

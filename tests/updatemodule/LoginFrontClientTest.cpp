// The login-front query against a scripted server on 127.0.0.1: the
// request, both answer forms, the comparisons, the overrides and every way
// the query ends without an answer.
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "ModuleTestDir.h"
#include "platform/Thread.h"
#include "support/FakeServer.h"
#include "support/HttpServer.h"
#include "support/VersionFileWriter.h"

namespace {

using varntest::FakeServer;
using Clock = std::chrono::steady_clock;
const std::string kRequest("\x02\x00\x33\xFE", 4);

std::string Answer(std::vector<int> launcher, std::vector<int> game, std::vector<int> minor) {
    std::string a = {char(14), char(0), char(0x33), char(0xFF)};
    for (const auto* fields : {&launcher, &game, &minor})
        for (int v : *fields)
            a.push_back(char(v));
    return a + std::string(2, '\0');
}
// What the server publishes while the installation is current.
const std::string kCurrent = Answer({1, 0, 6, 1}, {1, 0, 0, 3}, {0, 1});

class LoginFrontTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        EnableLogs();
        client.SetBaseDirectory(m_dir.c_str());
        client.SetLauncherVersion("1.0.6.1");
        std::filesystem::create_directories(Path("Update"));
        WriteRecord("1.0.0.3", "0.1");
    }
    void WriteRecord(const std::string& version, const std::string& minor,
                     const std::string& primary = "", const std::string& end = "") {
        varntest::CVersionFileWriter record;
        record.updateVersion = version, record.minorVersion = minor;
        record.primaryVersion = primary, record.endVersion = end;
        ASSERT_TRUE(record.Write(Path("Update/version.uvf")));
    }
    // Points the client's table at entry `index` on 127.0.0.1 (the others
    // empty), as a type file does.
    void UseServer(int port, int count = 1, int index = 0) {
        const std::string n = std::to_string(index);
        Write(Path("type.ini"),
              "[SETUP]\nLOGINFRONTUSE=1\nLOGINFRONTUSEDEFAULT=0\n[LF SERVER]\n"
              "COUNT=" +
                  std::to_string(count) + "\nIP" + n + "=127.0.0.1\nPORT" + n + "=" +
                  std::to_string(port) + "\n");
        client.LoadSettings(Path("type.ini").c_str());
    }
    // One query against a server that reads the request, sends `reply` and
    // closes; the update log starts empty.
    int Query(const std::string& reply) {
        std::filesystem::remove_all(Path("Update/Log"));
        FakeServer server([&](FakeServer::Connection& c) {
            request = c.ReadBytes(4);
            c.Send(reply);
        });
        UseServer(server.port());
        return client.ConnectLFServer();
    }
    bool Logged(const std::string& line) const {
        return UpdateLogText().find(line) != std::string::npos;
    }
    // Polls (bounded) until the update log holds line.
    bool AwaitLogged(const std::string& line) const {
        for (int i = 0; i < 400 && !Logged(line); ++i)
            plat::Sleep(25);
        return Logged(line);
    }

    CLoginFrontClient client;
    std::string request;
};

}  // namespace

TEST_F(LoginFrontTest, AnswersDecideBetweenCurrentAndOutOfDate) {
    const std::string need = "*** Need Update Major Version Local Version : 1.0.0.3(0.1) ";
    const struct {
        std::string reply;
        int result;
        std::string line;
    } cases[] = {
        {kCurrent, 1, "*** Same Version from Login Front with Launcher ***"},
        {Answer({1, 0, 6, 2}, {1, 0, 0, 3}, {0, 1}), 0,
         "*** Need Update Launcher Local Version : 1.0.6.1 Latest Version : 1.0.6.2 ***"},
        {Answer({1, 0, 6, 1}, {1, 0, 0, 4}, {0, 1}), 0, need + "Latest Version : 1.0.0.4(0.1) ***"},
        {Answer({1, 0, 6, 1}, {1, 0, 0, 3}, {0, 2}), 0, need + "Latest Version : 1.0.0.3(0.2) ***"},
        {Answer({1, 0, 6, 1}, {1, 0, 0, 3}, {0, 0}), 1,
         "CheckFileListVersion Local Minor Version(0.1) is higher than Latest Minor Version(0.0)"},
        // Fields are unsigned: 255 is a newer version, never -1.
        {Answer({1, 0, 6, 1}, {1, 0, 0, 255}, {0, 1}), 0, need + "Latest Version : 1.0.0.255(0.1)"},
        // The long form carries the answer in its last 16 of 88 bytes, and
        // only with the marker there.
        {std::string(72, 'x') + kCurrent, 1, "*** Same Version from Login Front with Launcher ***"},
        {std::string(88, 'x'), 0, "*** Invalid answer from LoginFront Server (88 byte) ***"},
        {std::string(72, 'x') + Answer({1, 0, 6, 1}, {1, 0, 0, 4}, {0, 1}), 0,
         need + "Latest Version : 1.0.0.4(0.1) ***"},
        // Closed before the answer is complete: the fill is never read.
        {kCurrent.substr(0, 10), 0, "*** Socket error : 0 ***\n"},
        {std::string(72, 'x'), 0, "*** Socket error : 0 ***\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Query(c.reply), c.result);
        EXPECT_EQ(request, kRequest);
        EXPECT_TRUE(Logged(c.line)) << UpdateLogText();
        EXPECT_TRUE(Logged("*** Recv ")) << UpdateLogText();
    }
}

// The first piece is taken before the rest is even sent.
TEST_F(LoginFrontTest, AnswerInTwoPiecesIsGathered) {
    std::promise<void> firstTaken;
    std::shared_future<void> taken = firstTaken.get_future().share();
    FakeServer server([&](FakeServer::Connection& c) {
        c.ReadBytes(4);
        c.Send(kCurrent.substr(0, 10));
        taken.wait_for(std::chrono::seconds(30));
        c.Send(kCurrent.substr(10));
    });
    UseServer(server.port());
    auto result = std::async(std::launch::async, [&] { return client.ConnectLFServer(); });
    EXPECT_TRUE(AwaitLogged("*** Recv 10 byte From LoginFront Server. ***\n"));
    firstTaken.set_value();
    EXPECT_EQ(result.get(), 1);
    EXPECT_TRUE(Logged("*** Recv 6 byte From LoginFront Server. ***\n"));
    EXPECT_TRUE(Logged("*** recv more size 16 byte (req:16 recv:10)\n"));
}

TEST_F(LoginFrontTest, NoUsableServerOrRecordEndsTheQueryWithZero) {
    UseServer(varntest::PickFreePort());
    EXPECT_EQ(client.ConnectLFServer(), 0);
    EXPECT_TRUE(
        Logged("[WSAECONNREFUSED] No connection could be made because the target machine "
               "actively refused it.\n"));
    EXPECT_TRUE(Logged("*** ConnectLFServer Connect failed ***\n"));

    // Only entries with a host and a port are drawn: one among 16 is always
    // the one asked.
    FakeServer server([](FakeServer::Connection& c) {
        c.ReadBytes(4);
        c.Send(kCurrent);
    });
    for (int i = 0; i < 3; ++i) {
        UseServer(server.port(), 40, 15);
        EXPECT_EQ(client.ConnectLFServer(), 1);
    }
    UseServer(0, 3, 1);
    EXPECT_EQ(client.ConnectLFServer(), 0);
    EXPECT_TRUE(Logged("*** ConnectLFServer invalid LFServer Count 0 ***\n"));

    std::filesystem::remove(Path("Update/version.uvf"));
    EXPECT_EQ(Query(kCurrent), 0);
    EXPECT_TRUE(Logged("Read " + Path("Update/version.uvf") + " File"));

    client.SetLoginFront(0);
    EXPECT_EQ(client.ConnectLFServer(), 0);
    EXPECT_TRUE(Logged("*** No Use LFServer ***\n"));
}

TEST_F(LoginFrontTest, GetLastAndUpdateVersionReplaceTheLocalVersion) {
    WriteRecord("1.0.0.1", "0.1", "1.0.0.3", "1.0.0.2");
    EXPECT_EQ(Query(kCurrent), 0);  // the record alone is out of date
    client.SetUpdateVersion("1.0.0.3");
    EXPECT_EQ(Query(kCurrent), 1);
    // "-getlast" wins over "-updateversion": the primary version, else the end.
    client.SetGetLast(1);
    EXPECT_EQ(Query(kCurrent), 1);
    WriteRecord("1.0.0.1", "0.1", "", "1.0.0.2");
    EXPECT_EQ(Query(kCurrent), 0);
    const std::string patchLog = Read(Path("Update/PATCHLOG.txt"));
    EXPECT_NE(patchLog.find("GetLastVersion Set LocalVersion 1.0.0.1 to PriVersion 1.0.0.3"),
              std::string::npos);
    EXPECT_NE(patchLog.find("GetLastVersion Set LocalVersion 1.0.0.1 to EndVersion 1.0.0.2"),
              std::string::npos);
}

TEST_F(LoginFrontTest, SilentServerEndsAtTheTimeOutOrAtOnceOnStop) {
    std::atomic<int> asked{0};
    FakeServer server([&](FakeServer::Connection& c) {
        c.ReadBytes(4);
        ++asked;
        c.WaitForClose();
    });
    UseServer(server.port());
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client.ConnectLFServer(), 0);
    EXPECT_LT(Clock::now() - start,
              std::chrono::milliseconds(3 * CLoginFrontClient::kReceiveTimeoutMs));
    EXPECT_TRUE(Logged("*** Socket error : 10060 ***\n"));

    auto result = std::async(std::launch::async, [&] { return client.ConnectLFServer(); });
    for (int i = 0; i < 400 && asked < 2; ++i)
        plat::Sleep(25);
    client.RequestStop();
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(CLoginFrontClient::kReceiveTimeoutMs / 2)),
              std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(Logged("*** Socket error : 10004 ***\n"));
    // Until the next run clears it, the stop holds.
    EXPECT_EQ(client.ConnectLFServer(), 0);
    EXPECT_TRUE(Logged("*** ConnectLFServer stopped ***\n"));
    EXPECT_EQ(asked, 2);
}

// TcpSocket against servers on 127.0.0.1: an exchange, and every way a
// connect or a wait ends without one, with its Windows Sockets code.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "platform/Error.h"
#include "platform/Socket.h"
#include "support/FakeServer.h"
#include "support/HttpServer.h"

using namespace plat;
using varntest::FakeServer;

namespace {

// A listener whose accept queue is full: a further connect is never
// answered, as with a server host that has gone silent.
struct FullListener {
    FullListener() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd, 0);
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        filler.Connect("127.0.0.1", port, 5000, nullptr);
    }
    ~FullListener() { close(fd); }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    TcpSocket filler;
};

}  // namespace

TEST(Socket, ExchangeByNameThenThePeerCloses) {
    FakeServer server([](FakeServer::Connection& c) {
        if (c.ReadBytes(5) == "hello")
            c.Send("world");
    });
    TcpSocket s;
    ASSERT_TRUE(s.Connect("localhost", server.port(), 5000, nullptr)) << GetLastError();
    ASSERT_TRUE(s.SendAll("hello", 5, 5000, nullptr));
    char buf[16] = {};
    int got = 0;
    for (int n; got < 5 && (n = s.Receive(buf + got, sizeof buf - got, 5000, nullptr)) > 0;)
        got += n;
    EXPECT_EQ(std::string(buf, got), "world");
    EXPECT_EQ(s.Receive(buf, sizeof buf, 5000, nullptr), 0);
    EXPECT_EQ(GetLastError(), 0u);
    s.Close();
    EXPECT_EQ(s.Receive(buf, sizeof buf, 5000, nullptr), -1);
    EXPECT_EQ(GetLastError(), WSAENOTCONN_CODE);
}

TEST(Socket, ConnectFailuresCarryTheirCodes) {
    TcpSocket s;
    EXPECT_FALSE(s.Connect("127.0.0.1", varntest::PickFreePort(), 5000, nullptr));
    EXPECT_EQ(GetLastError(), WSAECONNREFUSED_CODE);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_FALSE(s.Connect("127.0.0.1", 0, 5000, nullptr));
    EXPECT_EQ(GetLastError(), WSAEADDRNOTAVAIL_CODE);
    // Resolution too is cut short by a stop.
    const std::atomic<int> stop{1};
    EXPECT_FALSE(s.Connect("localhost", 80, 5000, &stop));
    EXPECT_EQ(GetLastError(), WSAEINTR_CODE);

    FullListener full;
    EXPECT_FALSE(s.Connect("127.0.0.1", full.port, 300, nullptr));
    EXPECT_EQ(GetLastError(), WSAETIMEDOUT_CODE);
}

TEST(Socket, WaitsEndAtTheirTimeOutOrWithinASliceOfAStop) {
    FakeServer server([](FakeServer::Connection& c) { c.WaitForClose(); });
    TcpSocket s;
    ASSERT_TRUE(s.Connect("127.0.0.1", server.port(), 5000, nullptr));
    char buf[16];
    EXPECT_EQ(s.Receive(buf, sizeof buf, 200, nullptr), -1);
    EXPECT_EQ(GetLastError(), WSAETIMEDOUT_CODE);

    // A stop raised by another thread while the wait has a minute to go.
    std::atomic<int> stop{0};
    auto receive = std::async(std::launch::async, [&] {
        const int n = s.Receive(buf, sizeof buf, 60000, &stop);
        return std::make_pair(n, GetLastError());
    });
    FullListener full;
    auto connect = std::async(std::launch::async, [&] {
        TcpSocket t;
        const bool ok = t.Connect("127.0.0.1", full.port, 60000, &stop);
        return std::make_pair(ok, GetLastError());
    });
    stop = 1;
    ASSERT_EQ(receive.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_EQ(connect.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(receive.get(), std::make_pair(-1, WSAEINTR_CODE));
    EXPECT_EQ(connect.get(), std::make_pair(false, WSAEINTR_CODE));
}

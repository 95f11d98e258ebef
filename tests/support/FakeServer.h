// FakeServer: a scripted TCP server on 127.0.0.1 (run-time port) for the
// faults a real server cannot be made to show: a connection dropped in the
// middle of a body, a server that accepts and never answers, odd replies.
//
// Each accepted connection runs the script on the server's thread, one
// connection after the other. The destructor shuts every socket down (which
// wakes a script blocked in ReadRequest or WaitForClose) and joins the thread.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace varntest {

class FakeServer {
public:
    class Connection {
    public:
        explicit Connection(int fd) : m_fd(fd) {}
        // Reads up to the end of one request's headers; "" when the peer
        // closed first.
        std::string ReadRequest();
        // Sends all bytes; false when the peer is gone.
        bool Send(const std::string& data);
        // Blocks until the peer closes (or the server shuts down).
        void WaitForClose();

    private:
        int m_fd;
        std::string m_pending;
    };
    using Script = std::function<void(Connection&)>;

    // Throws std::runtime_error when the listening socket cannot be made.
    explicit FakeServer(Script script);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return m_port; }
    int Connections() const { return m_connections.load(); }

private:
    void Run();
    Script m_script;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_lock;
    int m_clientFd = -1;  // connection being scripted, for shutdown
    std::thread m_thread;
};

}  // namespace varntest

// FakeServer: a scripted TCP server on 127.0.0.1 (run-time port) for faults
// a real server cannot show. The script runs on the server's thread for each
// accepted connection in turn. The destructor shuts every socket down (waking
// a blocked script) and joins the thread.
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
        // One request's headers; "" when the peer closed first.
        std::string ReadRequest();
        // Bytes up to and including the first `end` (a command line with
        // "\r\n", a mail's data with "\r\n.\r\n"); "" when the peer closed
        // first.
        std::string ReadUntil(const std::string& end);
        // Exactly n raw bytes; fewer when the peer closed first.
        std::string ReadBytes(size_t n);
        // One line without its "\r\n" (a command of a line protocol); "" when
        // the peer closed first.
        std::string ReadLine();
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

private:
    void Run();
    Script m_script;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    int m_clientFd = -1;  // connection being scripted, for shutdown
    std::thread m_thread;
};

}  // namespace varntest

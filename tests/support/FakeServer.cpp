#include "support/FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace varntest {

std::string FakeServer::Connection::ReadRequest() {
    char buf[4096];
    for (;;) {
        size_t end = m_pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::string request = m_pending.substr(0, end + 4);
            m_pending.erase(0, end + 4);
            return request;
        }
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "";
        m_pending.append(buf, static_cast<size_t>(n));
    }
}

std::string FakeServer::Connection::ReadUntil(const std::string& end) {
    char buf[4096];
    for (;;) {
        const size_t at = m_pending.find(end);
        if (at != std::string::npos) {
            std::string part = m_pending.substr(0, at + end.size());
            m_pending.erase(0, at + end.size());
            return part;
        }
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "";
        m_pending.append(buf, static_cast<size_t>(n));
    }
}

std::string FakeServer::Connection::ReadBytes(size_t n) {
    char buf[4096];
    while (m_pending.size() < n) {
        ssize_t got = recv(m_fd, buf, std::min(sizeof buf, n - m_pending.size()), 0);
        if (got <= 0)
            break;
        m_pending.append(buf, static_cast<size_t>(got));
    }
    std::string bytes = m_pending.substr(0, n);
    m_pending.erase(0, bytes.size());
    return bytes;
}

std::string FakeServer::Connection::ReadLine() {
    char buf[4096];
    for (;;) {
        size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 2);
            return line;
        }
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "";
        m_pending.append(buf, static_cast<size_t>(n));
    }
}

bool FakeServer::Connection::Send(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void FakeServer::Connection::WaitForClose() {
    char buf[4096];
    while (recv(m_fd, buf, sizeof buf, 0) > 0) {
    }
}

FakeServer::FakeServer(Script script) : m_script(std::move(script)) {
    m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 8) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (m_listenFd >= 0)
            close(m_listenFd);
        throw std::runtime_error("FakeServer: cannot listen");
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Run(); });
}

FakeServer::~FakeServer() {
    m_stop = true;
    shutdown(m_listenFd, SHUT_RDWR);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_clientFd >= 0)
            shutdown(m_clientFd, SHUT_RDWR);
    }
    m_thread.join();
    close(m_listenFd);
}

void FakeServer::Run() {
    while (!m_stop) {
        int fd = accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_clientFd = fd;
        }
        if (!m_stop) {
            Connection c(fd);
            m_script(c);
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_clientFd = -1;
        }
        close(fd);
    }
}

}  // namespace varntest

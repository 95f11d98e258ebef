#include "support/FakeFtp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varntest {
namespace {

// A listening socket on a run-time loopback port; -1 on failure.
int ListenOnLoopback(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, 1) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

FakeFtp::Session::~Session() {
    if (m_data >= 0)
        close(m_data);
}

void FakeFtp::Session::AcceptData(int listenFd) {
    // As a real server does: the client connects right after the reply, and
    // is taken at once (bounded, should it never come).
    pollfd p{listenFd, POLLIN, 0};
    if (m_data >= 0)
        close(m_data);
    m_data = poll(&p, 1, 5000) == 1 ? accept(listenFd, nullptr, nullptr) : -1;
    close(listenFd);
}

bool FakeFtp::Session::SendData(const std::string& bytes) {
    const int fd = m_data;
    m_data = -1;
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == bytes.size();
}

FakeFtp::FakeFtp(std::map<std::string, std::string> files, Script script, std::string pwd)
    : m_files(std::move(files)),
      m_script(std::move(script)),
      m_pwd(std::move(pwd)),
      m_server([this](FakeServer::Connection& c) { Serve(c); }) {}

std::vector<std::string> FakeFtp::Commands() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_commands;
}

void FakeFtp::Serve(FakeServer::Connection& c) {
    Session s(c);
    int index = 0;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        index = m_sessions++;
    }
    if (!m_script || !m_script(s, "", index))  // "" : the greeting
        s.Reply("220 fake ready");
    for (std::string command; !(command = c.ReadLine()).empty();) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_commands.push_back(command);
        }
        if (m_script && m_script(s, command, index))
            continue;
        if (!Plain(s, command))
            return;
    }
}

bool FakeFtp::Plain(Session& s, const std::string& command) {
    const std::string verb = command.substr(0, command.find(' '));
    const std::string arg = command.size() > verb.size() ? command.substr(verb.size() + 1) : "";
    if (verb == "USER")
        return s.Reply("331 password please");
    if (verb == "PASS")
        return s.Reply("230 logged in");
    if (verb == "PWD")
        return s.Reply("257 \"" + m_pwd + "\" is the current directory");
    if (verb == "REST")
        return s.Reply("350 restarting");
    if (verb == "TYPE" || verb == "NOOP")
        return s.Reply("200 ok");
    if (verb == "EPSV") {
        int port = 0;
        const int listenFd = ListenOnLoopback(&port);
        const bool sent =
            s.Reply("229 Entering extended passive mode (|||" + std::to_string(port) + "|)");
        s.AcceptData(listenFd);
        return sent;
    }
    if (verb == "SIZE" || verb == "RETR") {
        auto file = m_files.find(arg);
        if (file == m_files.end())
            return s.Reply("550 No such file");
        if (verb == "SIZE")
            return s.Reply("213 " + std::to_string(file->second.size()));
        s.Reply("150 opening data connection");
        s.SendData(file->second);
        return s.Reply("226 transfer complete");
    }
    if (verb == "QUIT") {
        s.Reply("221 bye");
        return false;
    }
    return s.Reply("502 not implemented");
}

}  // namespace varntest

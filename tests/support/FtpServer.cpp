#include "support/FtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/HttpServer.h"
#include "support/ServerChild.h"

namespace varntest {
namespace {

// Debian's python3-pyftpdlib imports only under the system interpreter.
const char* const kPython = "/usr/bin/python3";

// argv: root port user password idle-timeout log. Each received command is
// logged as "<- COMMAND" (PASS masked by pyftpdlib itself).
const char* const kScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, user, password, idle, log = sys.argv[1:7]
logging.basicConfig(filename=log, level=logging.DEBUG, format="%(message)s")
auth = DummyAuthorizer()
auth.add_user(user, password, root, perm="elr")
class Handler(FTPHandler):
    pass
Handler.authorizer = auth
Handler.timeout = int(idle)
Handler.passive_ports = range(int(port) + 1, int(port) + 64)
server = FTPServer(("127.0.0.1", int(port)), Handler)
server.serve_forever()
)";

}  // namespace

FtpServer::FtpServer(const std::string& root, const Options& options)
    : m_root(std::filesystem::absolute(root).string()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "varn-ftpd-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("FtpServer: mkdtemp failed");
    m_prefix = tmpl;
    std::ofstream(m_prefix + "/ftpd.py") << kScript;
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = PickFreePort();
        if (port != 0 && StartOnce(port, options)) {
            m_port = port;
            return;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(m_prefix, ec);
    throw std::runtime_error("FtpServer: pyftpdlib did not start");
}

bool FtpServer::StartOnce(int port, const Options& options) {
    const pid_t pid = StartServing(
        {kPython, m_prefix + "/ftpd.py", m_root, std::to_string(port), options.user,
         options.password, std::to_string(options.idleTimeout), m_prefix + "/commands.log"},
        m_prefix + "/stderr.log", 200, [port] { return AcceptsOnLoopback(port); });
    if (pid < 0)
        return false;
    m_pid = pid;
    return true;
}

FtpServer::~FtpServer() {
    StopServing(m_pid);
    std::error_code ec;
    std::filesystem::remove_all(m_prefix, ec);
}

std::string FtpServer::url() const {
    return "ftp://127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> FtpServer::Lines(const std::string& marker) const {
    // pyftpdlib logs "<peer>-[<user>] <- COMMAND" and "... -> REPLY".
    std::vector<std::string> lines;
    std::ifstream in(m_prefix + "/commands.log");
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(marker);
        if (at != std::string::npos)
            lines.push_back(line.substr(at + marker.size()));
    }
    return lines;
}

int FtpServer::CountLines(const std::string& marker, const std::string& start,
                          const std::string& end, int expected) const {
    int count = 0;
    for (int i = 0; i < 100; ++i) {
        const std::vector<std::string> lines = Lines(marker);
        count = static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
            return l.starts_with(start) && l.ends_with(end);
        }));
        if (count >= expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return count;
}

int FtpServer::Count(const std::string& verb, const std::string& suffix, int expected) const {
    return CountLines("] <- ", verb, suffix, expected);
}

int FtpServer::Replies(const std::string& prefix, int expected) const {
    return CountLines("] -> ", prefix, "", expected);
}

}  // namespace varntest

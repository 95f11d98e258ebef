#include "support/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/ServerChild.h"

namespace varntest {
namespace {

const char* const kNginx = "/usr/sbin/nginx";

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

std::string MakeConfig(const std::string& prefix, const std::string& root, int port,
                       const std::string& extra) {
    std::ostringstream c;
    c << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
      << "pid " << prefix << "/nginx.pid;\n"
      << "error_log " << prefix << "/error.log warn;\n";
    // Workers drop to "nobody" by default and could not read a root-owned
    // temp directory.
    if (geteuid() == 0)
        c << "user root;\n";
    c << "events { worker_connections 128; }\nhttp {\n  default_type application/octet-stream;\n"
      << "  log_format conn '$connection $status $uri';\n"
      << "  access_log " << prefix << "/access.log conn;\n"
      << "  log_format detail '$status $body_bytes_sent [$http_range] $uri';\n"
      << "  access_log " << prefix << "/detail.log detail;\n"
      << "  sendfile on;\n  keepalive_timeout 60s;\n  keepalive_requests 100000;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        c << "  " << t << "_temp_path " << prefix << "/tmp/" << t << ";\n";
    c << "  server {\n"
      << "    listen 127.0.0.1:" << port << ";\n"
      << "    root " << root << ";\n"
      << "    " << extra << "\n"
      << "  }\n}\n";
    return c.str();
}

}  // namespace

int PickFreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

HttpServer::HttpServer(const std::string& root, const std::string& extraServerConfig)
    : m_root(std::filesystem::absolute(root).string()), m_extra(extraServerConfig) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "varn-nginx-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("HttpServer: mkdtemp failed");
    m_prefix = tmpl;
    std::filesystem::create_directories(m_prefix + "/tmp");
    // Another process may take the picked port before nginx binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = PickFreePort();
        if (port != 0 && StartOnce(port)) {
            m_port = port;
            return;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(m_prefix, ec);
    throw std::runtime_error("HttpServer: nginx did not start");
}

bool HttpServer::StartOnce(int port) {
    const std::string conf = m_prefix + "/nginx.conf";
    std::ofstream(conf) << MakeConfig(m_prefix, m_root, port, m_extra);
    const std::string err = m_prefix + "/error.log";
    const pid_t pid = StartServing({kNginx, "-p", m_prefix, "-c", conf, "-e", err}, err, 200,
                                   [port] { return AcceptsOnLoopback(port); });
    if (pid < 0)
        return false;
    m_pid = pid;
    return true;
}

HttpServer::~HttpServer() {
    // m_pid is a live child here: the constructor throws otherwise. SIGTERM is
    // nginx's fast shutdown: the master ends its workers first.
    StopServing(m_pid);
    std::error_code ec;
    std::filesystem::remove_all(m_prefix, ec);
}

std::string HttpServer::url() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> HttpServer::AccessLog(size_t minLines) const {
    return ReadLog("access.log", minLines);
}

std::vector<std::string> HttpServer::DetailLog(size_t minLines) const {
    return ReadLog("detail.log", minLines);
}

std::vector<std::string> HttpServer::ReadLog(const char* name, size_t minLines) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i) {
        lines.clear();
        std::ifstream in(m_prefix + "/" + name);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        if (lines.size() >= minLines)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return lines;
}

int HttpServer::Requests(const std::string& suffix, int expected) const {
    int count = 0;
    for (int i = 0; i < 100; ++i) {
        const std::vector<std::string> lines = AccessLog();
        count = static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                               [&](const auto& l) { return l.ends_with(suffix); }));
        if (count >= expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return count;
}

int HttpServer::ConnectionCount(size_t requests) const {
    std::vector<std::string> lines = AccessLog(requests);
    std::set<std::string> serials;
    for (size_t i = 0; i < lines.size() && i < requests; ++i)
        serials.insert(lines[i].substr(0, lines[i].find(' ')));
    return static_cast<int>(serials.size());
}

}  // namespace varntest

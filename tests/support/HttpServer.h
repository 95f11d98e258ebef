// HttpServer: a real nginx child serving a directory on 127.0.0.1 (port
// chosen at run time) with keep-alive on, from its own temporary prefix.
// The constructor throws std::runtime_error when nginx cannot be started;
// the destructor stops it and removes the prefix (not the served root).
// Not thread-safe.
#pragma once
#include <sys/types.h>
#include <string>
#include <vector>

namespace varntest {

class HttpServer {
public:
    // root: directory to serve. extraServerConfig: nginx directives added to
    // the server block, e.g. "location = /broken { return 500; }".
    explicit HttpServer(const std::string& root, const std::string& extraServerConfig = "");
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" without a trailing slash.
    std::string url() const;

    // Access log lines, each "<connection serial> <status> <uri>". nginx
    // writes a line just after the response, so this waits (up to a few
    // seconds) until at least minLines are there.
    std::vector<std::string> AccessLog(size_t minLines = 0) const;
    // The same requests as "<status> <body bytes sent> [<Range header>] <uri>".
    std::vector<std::string> DetailLog(size_t minLines = 0) const;
    // Number of answered requests whose URI ends with `suffix`. Waits (up to
    // a few seconds) for `expected` of them, since their log lines may still
    // be on their way; an absent request cannot be waited for.
    int Requests(const std::string& suffix, int expected) const;
    // Number of distinct connections among the first `requests` log lines.
    int ConnectionCount(size_t requests) const;

private:
    bool StartOnce(int port);
    std::vector<std::string> ReadLog(const char* name, size_t minLines) const;
    std::string m_root;
    std::string m_extra;
    std::string m_prefix;
    int m_port = 0;
    pid_t m_pid = -1;
};

// Picks a free TCP port on 127.0.0.1 (bind to port 0, read it, close).
int PickFreePort();

}  // namespace varntest

// FtpServer: a real FTP server (pyftpdlib, run by /usr/bin/python3) serving
// a directory on 127.0.0.1 (port chosen at run time) to one user, with its
// passive data ports on loopback and every command it receives in a log.
// The constructor throws std::runtime_error when the server cannot be
// started; the destructor stops it and removes its prefix (not the served
// root). Not thread-safe.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace varntest {

class FtpServer {
public:
    struct Options {
        std::string user = "varn";
        std::string password = "secret";
        // Seconds a logged-in client may stay idle before the server closes
        // its control connection with a 421 reply.
        int idleTimeout = 300;
    };
    FtpServer(const std::string& root, const Options& options);
    explicit FtpServer(const std::string& root) : FtpServer(root, Options()) {}
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    int port() const { return m_port; }
    // "ftp://127.0.0.1:<port>" without a trailing slash.
    std::string url() const;

    // Commands received, in order ("RETR patch/update.uvf", "NOOP", ...).
    std::vector<std::string> Commands() const { return Lines("] <- "); }
    // Number of commands that start with `verb` and end with `suffix`. Waits
    // (up to a few seconds) for `expected` of them, since the log may lag;
    // an absent command cannot be waited for.
    int Count(const std::string& verb, const std::string& suffix, int expected) const;
    // Number of replies the server sent that start with prefix ("421");
    // waits like Count.
    int Replies(const std::string& prefix, int expected) const;
    // Answered downloads ("RETR") of a path ending with suffix; the same
    // contract as HttpServer::Requests.
    int Requests(const std::string& suffix, int expected) const {
        return Count("RETR ", suffix, expected);
    }

private:
    bool StartOnce(int port, const Options& options);
    // The log's lines that hold marker, each from just after it.
    std::vector<std::string> Lines(const std::string& marker) const;
    int CountLines(const std::string& marker, const std::string& start, const std::string& end,
                   int expected) const;
    std::string m_root;
    std::string m_prefix;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace varntest

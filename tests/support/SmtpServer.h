// SmtpServer: a real SMTP server (python3-aiosmtpd, run by /usr/bin/python3)
// on 127.0.0.1 at a run-time port, from its own temporary directory. It
// stores every message it accepts, refuses recipients whose address starts
// with "reject" (550), and, when a user is given, requires AUTH LOGIN with
// that user and password (on plain TCP). The constructor throws
// std::runtime_error when the server cannot be started; the destructor stops
// it and removes the directory. Not thread-safe.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace varntest {

class SmtpServer {
public:
    struct Message {
        std::string from;
        std::vector<std::string> to;
        std::string data;  // as received after DATA, dots unstuffed
    };

    explicit SmtpServer(const std::string& user = "", const std::string& password = "");
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:<port>", as a MAILIP value.
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The accepted messages in order. Waits (a few seconds at most) until at
    // least minCount are stored; an absent message cannot be waited for.
    std::vector<Message> Messages(size_t minCount = 0) const;
    // Results of the AUTH attempts so far, in order: "ok" or "fail".
    std::vector<std::string> AuthResults() const;

private:
    bool StartOnce(int port, const std::string& user, const std::string& password);
    std::string m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace varntest

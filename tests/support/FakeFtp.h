// FakeFtp: a scripted FTP server on FakeServer, for the faults a real server
// cannot be made to show. It answers a plain session itself (login, PWD,
// TYPE, EPSV with a data port on loopback, SIZE and RETR of its files, NOOP,
// QUIT); a script sees every command first and may answer it instead.
// Control connections are served one after another.
#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeServer.h"

namespace varntest {

class FakeFtp {
public:
    class Session {
    public:
        explicit Session(FakeServer::Connection& c) : m_c(c) {}
        ~Session();
        // Sends one reply line ("\r\n" added).
        bool Reply(const std::string& line) { return m_c.Send(line + "\r\n"); }
        // Sends raw bytes on the control connection (replies cut anywhere).
        bool SendRaw(const std::string& bytes) { return m_c.Send(bytes); }
        // Sends bytes on the data connection of the last EPSV and closes it.
        // False when no client connected.
        bool SendData(const std::string& bytes);
        // Blocks until the client closes the control connection.
        void WaitForClose() { m_c.WaitForClose(); }

    private:
        friend class FakeFtp;
        void AcceptData(int listenFd);
        FakeServer::Connection& m_c;
        int m_data = -1;
    };
    // Returns true when it answered the command; false leaves it to the
    // plain session. The greeting is asked for as command "". sessionIndex
    // counts control connections from 0.
    using Script = std::function<bool(Session&, const std::string& command, int sessionIndex)>;

    // files: path as the client sends it (relative) -> content.
    FakeFtp(std::map<std::string, std::string> files, Script script, std::string pwd = "/");

    int port() const { return m_server.port(); }
    // Every command received, in order, across sessions.
    std::vector<std::string> Commands();

private:
    void Serve(FakeServer::Connection& c);
    bool Plain(Session& s, const std::string& command);

    std::map<std::string, std::string> m_files;
    Script m_script;
    std::string m_pwd;
    std::mutex m_lock;
    std::vector<std::string> m_commands;
    int m_sessions = 0;
    FakeServer m_server;  // last: its thread uses the members above
};

}  // namespace varntest

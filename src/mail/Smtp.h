// CSmtp: a small SMTP client session over one TCP connection: greeting,
// EHLO (HELO as fallback), AUTH LOGIN when a user name is set, MAIL FROM,
// RCPT TO per recipient, DATA with a rendered CSmtpMessage, QUIT.
//
// Every command waits for one reply and is judged by its three-digit code.
// Failures come back as codes (a reply code, or -1 for a time-out, a closed
// connection, a malformed or overlong reply, a socket error or a stop) and
// one call of a notification function; nothing throws.
//
// Time: each wait lasts at most the reply time-out, and the whole session
// (from Connect, name resolution included) at most the session time-out.
// A raised stop flag ends any wait within one socket slice.
//
// The password never reaches a notification: the AUTH answers are shown to
// OnCommandResponse as "****".
//
// Threads: one thread uses a session; the stop flag may be raised from any.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "mail/SmtpMessage.h"
#include "mail/SmtpReplyReader.h"
#include "platform/Socket.h"

namespace mail {

class CSmtp {
public:
    CSmtp();
    virtual ~CSmtp();
    CSmtp(const CSmtp&) = delete;
    CSmtp& operator=(const CSmtp&) = delete;

    // Called on a rejected AUTH LOGIN step or a rejected recipient; nonzero
    // asks for the AUTH LOGIN to be tried again (535 only). Default 0.
    virtual int OnSmtpWarning(int code, const char* response);
    // Called when EHLO/HELO, AUTH, MAIL FROM, DATA, the message or QUIT is
    // rejected, and when no recipient was accepted. The result is unused.
    virtual int OnSmtpError(int code, const char* response);
    // Called after every reply read (command is null for the greeting).
    virtual void OnCommandResponse(const char* command, int code, const char* response);
    // Called after each block of a command longer than one block; 0 aborts
    // the send. Default 1.
    virtual int OnSendProgress(const char* data, uint32_t sent, uint32_t total);

    void SetUseEhlo(bool use) { m_bUseEhlo = use; }
    void SetTimeout(int seconds) { m_nTimeout = seconds; }
    void SetSessionTimeout(uint32_t ms) { m_nSessionTimeoutMs = ms; }
    void SetPort(int port) { m_nPort = port; }
    void SetLogin(const std::string& user, const std::string& password);
    void SetStopFlag(plat::StopFlag stop) { m_pStop = stop; }

    // Connects to server ("host" on the session's port, or "host:port";
    // "[v6]:port" for an IPv6 address), reads the 220 greeting and greets.
    // Returns 1 when connected and greeted, 0 otherwise (an empty server is
    // refused before any connection). The AUTH LOGIN result does not matter
    // here: a server that wants it answers MAIL FROM with 530.
    int Connect(const char* server);
    // 0 when the message was accepted; else the reply code or -1.
    int SendMessage(CSmtpMessage& message);
    // The reply code of command (null: only read a reply), or -1.
    int SendCommand(const char* command);
    // QUIT while connected; 0 when the server answered 221, else its code.
    int Quit();
    // QUIT while connected, then closes the connection. Safe to repeat.
    void Close();

    bool IsConnected() const { return m_bConnected; }
    bool IsExtended() const { return m_bExtended; }
    const std::string& LastResponse() const { return m_strLastResponse; }
    // The code of the last reply, or -1 when the last wait got none.
    int LastCode() const { return m_nLastCode; }

    static constexpr size_t kBlockSize = 1024;

private:
    // shown: what OnCommandResponse sees in place of wire (the AUTH answers).
    int Exchange(const std::string& wire, const char* shown);
    void DiscardInput();
    bool SendBlocks(const std::string& wire);
    int ReadReply(const char* shown);
    int Fail(const char* why);
    uint32_t WaitBudgetMs() const;
    int Greet();
    int RunAuthLogin();
    int AuthOnce();
    int Rejected(int code);

    bool m_bUseEhlo = true;
    int m_nTimeout = 30;
    int m_nPort;
    std::string m_strUser;
    std::string m_strPass;
    plat::TcpSocket m_Socket;
    std::string m_strLastResponse;
    bool m_bConnected = false;
    bool m_bExtended = false;
    int m_nLastCode = -1;
    uint32_t m_nSessionTimeoutMs = 60000;
    std::chrono::steady_clock::time_point m_SessionEnd;
    plat::StopFlag m_pStop = nullptr;
    CSmtpReplyReader m_Reader;
};

// Splits "host", "host:port" or "[v6]:port"; a plain host (or a bare IPv6
// address) keeps defaultPort. False for an empty host or a bad port.
bool SplitServer(const std::string& server, int defaultPort, std::string* host, int* port);

}  // namespace mail

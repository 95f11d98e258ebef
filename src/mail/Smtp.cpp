#include "mail/Smtp.h"

#include <algorithm>
#include <cstdio>

#include "mail/MimeHeader.h"
#include "platform/Error.h"

namespace mail {
namespace {

using Clock = std::chrono::steady_clock;

// 535 retries a caller may ask for through OnSmtpWarning: a warning
// handler that always says "again" must not keep the session for ever.
constexpr int kMaxAuthAttempts = 3;
constexpr int kDefaultSmtpPort = 25;

// The name EHLO announces: letters, digits, "-" and "." of the computer's
// name (at most 64), else the address literal of the loopback.
std::string GreetingName() {
    std::string name;
    for (const char c : plat::GetComputerName()) {
        if (name.size() == 64)
            break;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '-' || c == '.')
            name += c;
    }
    return name.empty() ? "[127.0.0.1]" : name;
}

bool ParsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *port = std::stoi(text);
    return *port >= 1 && *port <= 65535;
}

std::string SocketFailure(const char* what, uint32_t code) {
    if (code == plat::WSAETIMEDOUT_CODE)
        return std::string(what) + ": time-out";
    if (code == plat::WSAEINTR_CODE)
        return std::string(what) + ": stopped";
    return std::string(what) + ": socket error " + std::to_string(code);
}

}  // namespace

bool SplitServer(const std::string& server, int defaultPort, std::string* host, int* port) {
    *port = defaultPort;
    if (!server.empty() && server[0] == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos)
            return false;
        *host = server.substr(1, close - 1);
        const std::string rest = server.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !ParsePort(rest.substr(1), port)))
            return false;
        return !host->empty();
    }
    const size_t colons = std::count(server.begin(), server.end(), ':');
    if (colons != 1) {
        *host = server;  // a plain host, or an IPv6 address without a port
        return !host->empty();
    }
    const size_t colon = server.find(':');
    *host = server.substr(0, colon);
    return !host->empty() && ParsePort(server.substr(colon + 1), port);
}

CSmtp::CSmtp() : m_nPort(plat::GetServicePort("smtp", "tcp", kDefaultSmtpPort)) {}

CSmtp::~CSmtp() {
    Close();
}

int CSmtp::OnSmtpWarning(int, const char*) {
    return 0;
}

int CSmtp::OnSmtpError(int, const char*) {
    return 0;
}

void CSmtp::OnCommandResponse(const char*, int, const char*) {}

int CSmtp::OnSendProgress(const char*, uint32_t, uint32_t) {
    return 1;
}

void CSmtp::SetLogin(const std::string& user, const std::string& password) {
    m_strUser = user;
    m_strPass = password;
}

uint32_t CSmtp::WaitBudgetMs() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_SessionEnd - Clock::now()).count();
    const long long reply = static_cast<long long>(std::max(m_nTimeout, 0)) * 1000;
    return static_cast<uint32_t>(std::clamp<long long>(std::min<long long>(left, reply), 0, reply));
}

int CSmtp::Fail(const char* why) {
    m_nLastCode = -1;
    m_strLastResponse = why;
    return -1;
}

int CSmtp::Connect(const char* server) {
    Close();
    m_Reader.Clear();
    m_bConnected = m_bExtended = false;
    m_SessionEnd = Clock::now() + std::chrono::milliseconds(m_nSessionTimeoutMs);
    std::string host;
    int port = 0;
    // An empty host must not reach the resolver: it would name this very
    // computer.
    if (server == nullptr || !SplitServer(server, m_nPort, &host, &port)) {
        OnSmtpError(Fail("no mail server"), m_strLastResponse.c_str());
        return 0;
    }
    if (!m_Socket.Connect(host, port, WaitBudgetMs(), m_pStop)) {
        Fail(SocketFailure("connect", plat::GetLastError()).c_str());
        OnSmtpError(-1, m_strLastResponse.c_str());
        return 0;
    }
    const int code = SendCommand(nullptr);
    if (code != 220) {
        OnSmtpError(code, m_strLastResponse.c_str());
        Close();
        return 0;
    }
    return Greet();
}

int CSmtp::Greet() {
    const std::string name = GreetingName();
    int code = -1;
    if (m_bUseEhlo) {
        code = Exchange("EHLO " + name + "\r\n", nullptr);
        if (code == 250) {
            m_bExtended = m_bConnected = true;
            RunAuthLogin();
            return 1;
        }
    }
    m_bExtended = false;
    // A server that did not answer EHLO at all will not answer HELO either.
    if (!m_bUseEhlo || code != -1)
        code = Exchange("HELO " + name + "\r\n", nullptr);
    if (code == 250) {
        m_bConnected = true;
        return 1;
    }
    m_bConnected = false;
    OnSmtpError(code, m_strLastResponse.c_str());
    Close();
    return 0;
}

int CSmtp::RunAuthLogin() {
    if (m_strUser.empty())
        return 0;
    for (int attempt = 1;; ++attempt) {
        int code = Exchange("AUTH LOGIN\r\n", nullptr);
        if (code != 334) {
            if (code < 0)
                m_bConnected = false;
            OnSmtpWarning(code, m_strLastResponse.c_str());
            return code;
        }
        // Servers word their prompts differently: the first challenge gets
        // the user name, the second the password, a third is cancelled.
        for (int answered = 0; code == 334; ++answered) {
            if (answered == 2) {
                code = Exchange("*\r\n", nullptr);
                code = (code == 235 || code == 334) ? 501 : code;
                break;
            }
            const std::string& secret = answered == 0 ? m_strUser : m_strPass;
            code = Exchange(Base64Encode(secret) + "\r\n", "****\r\n");
        }
        if (code == 235)
            return 235;
        if (code == 535) {
            if (OnSmtpWarning(535, m_strLastResponse.c_str()) != 0 && attempt < kMaxAuthAttempts)
                continue;
            return 535;
        }
        return Rejected(code);
    }
}

int CSmtp::Rejected(int code) {
    if (code < 0)
        m_bConnected = false;
    OnSmtpError(code, m_strLastResponse.c_str());
    return code;
}

int CSmtp::SendMessage(CSmtpMessage& message) {
    const std::string sender = message.SenderAddress();
    const std::vector<std::string> recipients = message.EnvelopeRecipients();
    // An address with a line break or brackets would smuggle a command.
    const bool plain = IsPlainAddress(sender) && !recipients.empty() &&
                       std::all_of(recipients.begin(), recipients.end(),
                                   [](const std::string& r) { return IsPlainAddress(r); });
    const char* refusal = !plain                                  ? "no usable sender or recipient"
                          : (!m_Socket.IsOpen() || !m_bConnected) ? "not connected"
                                                                  : nullptr;
    if (refusal != nullptr) {
        OnSmtpError(Fail(refusal), m_strLastResponse.c_str());
        return -1;
    }

    const std::string mailFrom = "MAIL FROM:<" + sender + ">\r\n";
    int code = Exchange(mailFrom, nullptr);
    // Once only, and only after a login that worked: a server that wants a
    // login it does not accept would answer 530 for ever.
    if (code == 530) {
        const std::string refused = m_strLastResponse;
        if (RunAuthLogin() == 235) {
            code = Exchange(mailFrom, nullptr);
        } else if (!m_bConnected) {
            code = -1;  // the login lost the connection
        } else {
            // The error names the refusal, not the failed login's reply.
            m_nLastCode = code;
            m_strLastResponse = refused;
        }
    }
    if (code != 250)
        return Rejected(code);

    int accepted = 0;
    for (const std::string& r : recipients) {
        code = Exchange("RCPT TO:<" + r + ">\r\n", nullptr);
        if (code == 250 || code == 251) {
            ++accepted;
            continue;
        }
        OnSmtpWarning(code, m_strLastResponse.c_str());
        if (code < 0)
            break;
    }
    if (accepted == 0)
        return Rejected(code);

    code = Exchange("DATA\r\n", nullptr);
    if (code != 354)
        return Rejected(code);
    std::string text;
    message.RenderMessage(text);
    code = Exchange(PrepareDataStream(text), nullptr);
    return code == 250 ? 0 : Rejected(code);
}

int CSmtp::Quit() {
    if (!m_bConnected)
        return -1;
    const int code = Exchange("QUIT\r\n", nullptr);
    if (code != 221)
        Rejected(code);
    m_bConnected = false;
    return code == 221 ? 0 : code;
}

void CSmtp::Close() {
    if (!m_Socket.IsOpen())
        return;
    if (m_bConnected)
        Quit();
    m_Socket.Close();
    m_bConnected = false;
}

int CSmtp::SendCommand(const char* command) {
    if (command == nullptr)
        return ReadReply(nullptr);
    return Exchange(command, nullptr);
}

int CSmtp::Exchange(const std::string& wire, const char* shown) {
    if (!m_Socket.IsOpen())
        return Fail("not connected");
    DiscardInput();
    if (!SendBlocks(wire))
        return -1;
    return ReadReply(shown != nullptr ? shown : wire.c_str());
}

// Whatever the server sent unasked belongs to no command: a reply read
// after this command must be its own.
void CSmtp::DiscardInput() {
    m_Reader.Clear();
    char buffer[kBlockSize];
    while (m_Socket.Receive(buffer, sizeof(buffer), 0, m_pStop) > 0) {
    }
}

bool CSmtp::SendBlocks(const std::string& wire) {
    const size_t total = wire.size();
    for (size_t sent = 0; sent < total;) {
        const size_t n = std::min(kBlockSize, total - sent);
        const uint32_t budget = WaitBudgetMs();
        if (budget == 0 || !m_Socket.SendAll(wire.data() + sent, n, budget, m_pStop)) {
            Fail(SocketFailure("send", budget == 0 ? plat::WSAETIMEDOUT_CODE : plat::GetLastError())
                     .c_str());
            return false;
        }
        sent += n;
        if (total > kBlockSize && OnSendProgress(wire.c_str(), static_cast<uint32_t>(sent),
                                                 static_cast<uint32_t>(total)) == 0) {
            Fail("send cancelled");
            return false;
        }
    }
    return true;
}

int CSmtp::ReadReply(const char* shown) {
    const Clock::time_point replyEnd = Clock::now() + std::chrono::seconds(std::max(m_nTimeout, 0));
    char buffer[kBlockSize];
    SmtpReply reply;
    for (;;) {
        switch (m_Reader.Take(&reply)) {
            case CSmtpReplyReader::REPLY_COMPLETE:
                m_nLastCode = reply.code;
                m_strLastResponse = reply.text;
                OnCommandResponse(shown, reply.code, m_strLastResponse.c_str());
                return reply.code;
            case CSmtpReplyReader::REPLY_MALFORMED:
                return Fail("reply: not an SMTP reply");
            case CSmtpReplyReader::REPLY_TOO_LONG:
                return Fail("reply: longer than the reply buffer");
            case CSmtpReplyReader::REPLY_INCOMPLETE:
                break;
        }
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(replyEnd - Clock::now()).count();
        const uint32_t wait = std::min<uint32_t>(WaitBudgetMs(), std::max<long long>(left, 0));
        if (wait == 0)
            return Fail("reply: time-out");
        const int n = m_Socket.Receive(buffer, sizeof(buffer), wait, m_pStop);
        if (n == 0)
            return Fail("reply: connection closed by the server");
        if (n < 0)
            return Fail(SocketFailure("reply", plat::GetLastError()).c_str());
        m_Reader.Feed(buffer, static_cast<size_t>(n));
    }
}

}  // namespace mail

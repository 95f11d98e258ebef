// CSmtp against a real SMTP server (aiosmtpd on 127.0.0.1) and against
// scripted servers for the faults a real one does not show.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mail/MimeCodec.h"
#include "mail/Smtp.h"
#include "support/FakeServer.h"
#include "support/MailParse.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace {

using mail::CSmtp;
using mail::CSmtpMessage;
using Notes = std::vector<std::pair<int, std::string>>;

class RecordingSmtp : public CSmtp {
public:
    Notes warnings, errors;
    std::vector<std::string> commands;  // as OnCommandResponse saw them
    int OnSmtpWarning(int code, const char* response) override {
        warnings.emplace_back(code, response);
        return 0;
    }
    int OnSmtpError(int code, const char* response) override {
        errors.emplace_back(code, response);
        return 0;
    }
    void OnCommandResponse(const char* command, int, const char*) override {
        commands.push_back(command != nullptr ? command : "");
    }
    std::vector<int> WarningCodes() const {
        std::vector<int> codes;
        for (const auto& w : warnings)
            codes.push_back(w.first);
        return codes;
    }
};

CSmtpMessage Mail(const std::string& to, const std::string& body = "hello") {
    CSmtpMessage m;
    m.SetSender("Update Program", "from@x.example");
    m.SetRecipient("support", to);
    m.SetSubject("log");
    m.AddPart({.strText = body,
               .strContentType = "text/plain",
               .strCharset = "iso-8859-1",
               .nEncoding = mail::ENCODING_7BIT});
    return m;
}

// One scripted connection: a greeting, then for each step one command line
// (or, for a body step, a mail's data) read and recorded, and its reply
// sent. A step's reply may come in pieces, sent one by one.
struct Step {
    std::vector<std::string> reply;
    bool body = false;
};

class ScriptedServer {
public:
    // hangUp: close the connection after the last step instead of waiting
    // for the client to.
    ScriptedServer(std::vector<std::string> greeting, std::vector<Step> steps, bool hangUp = false)
        : m_server([this, greeting, steps, hangUp](varntest::FakeServer::Connection& c) {
              for (const std::string& piece : greeting)
                  c.Send(piece);
              for (const Step& step : steps) {
                  const std::string line = c.ReadUntil(step.body ? "\r\n.\r\n" : "\r\n");
                  if (line.empty())
                      return;
                  Record(line);
                  for (const std::string& piece : step.reply)
                      c.Send(piece);
              }
              if (!hangUp)
                  c.WaitForClose();
          }) {}
    std::string address() const { return "127.0.0.1:" + std::to_string(m_server.port()); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_lines;
    }

private:
    void Record(const std::string& line) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_lines.push_back(line.substr(0, line.size() - 2));
    }
    std::mutex m_lock;
    std::vector<std::string> m_lines;
    varntest::FakeServer m_server;
};

std::string B64(const std::string& text) {
    return mail::Base64Encode(text);
}

}  // namespace

// The rejected recipient is a warning; the other one gets the message,
// whose dot lines arrive intact.
TEST(SmtpSessionTest, RealServerDeliversToTheAcceptedRecipientWithDotLinesIntact) {
    varntest::SmtpServer server;
    RecordingSmtp smtp;
    ASSERT_EQ(smtp.Connect(server.address().c_str()), 1) << smtp.LastResponse();
    EXPECT_TRUE(smtp.IsExtended());
    // A line break in an address would smuggle a command: refused before
    // anything is sent, and the session goes on.
    CSmtpMessage smuggled = Mail("ok@x.example\r\nRCPT TO:<evil@x.example>");
    EXPECT_EQ(smtp.SendMessage(smuggled), -1);
    EXPECT_TRUE(smtp.IsConnected());
    ASSERT_EQ(smtp.errors.size(), 1u);
    EXPECT_EQ(smtp.errors[0].first, -1);
    CSmtpMessage m = Mail("reject@x.example", ".hidden\n.\nend");
    m.AddCopyRecipient("", "ok@x.example");
    EXPECT_EQ(smtp.SendMessage(m), 0) << smtp.LastResponse();
    smtp.Close();

    EXPECT_EQ(smtp.WarningCodes(), std::vector<int>{550});
    EXPECT_EQ(smtp.errors.size(), 1u);
    for (const std::string& c : smtp.commands)
        EXPECT_EQ(c.find("AUTH"), std::string::npos);  // no user name: no login
    const auto messages = server.Messages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].from, "from@x.example");
    EXPECT_EQ(messages[0].to, std::vector<std::string>{"ok@x.example"});
    EXPECT_EQ(varntest::ParseMailPart(messages[0].data).body, ".hidden\r\n.\r\nend\r\n");
}

// The right login delivers; a wrong one warns with 535, logs in once more
// on the 530 of MAIL FROM and then gives up. Neither shows the password.
TEST(SmtpSessionTest, RealServerLoginSucceedsOrFailsThroughTheWarningPath) {
    varntest::SmtpServer server("mailer", "s3cret!");
    RecordingSmtp good;
    good.SetLogin("mailer", "s3cret!");
    ASSERT_EQ(good.Connect(server.address().c_str()), 1);
    CSmtpMessage m = Mail("support@x.example");
    EXPECT_EQ(good.SendMessage(m), 0) << good.LastResponse();
    good.Close();
    EXPECT_EQ(server.Messages(1).size(), 1u);

    RecordingSmtp bad;
    bad.SetLogin("mailer", "wrong");
    ASSERT_EQ(bad.Connect(server.address().c_str()), 1);  // the login result does not matter yet
    EXPECT_EQ(bad.SendMessage(m), 530);
    bad.Close();
    EXPECT_EQ(bad.WarningCodes(), (std::vector<int>{535, 535}));
    ASSERT_EQ(bad.errors.size(), 1u);
    EXPECT_EQ(bad.errors[0].first, 530);
    EXPECT_EQ(server.AuthResults(), (std::vector<std::string>{"ok", "fail", "fail"}));
    EXPECT_EQ(server.Messages().size(), 1u);

    for (const RecordingSmtp* s : {&good, &bad}) {
        int masked = 0;
        for (const std::string& c : s->commands) {
            EXPECT_EQ(c.find("s3cret!"), std::string::npos) << c;
            EXPECT_EQ(c.find(B64("s3cret!")), std::string::npos) << c;
            EXPECT_EQ(c.find(B64("wrong")), std::string::npos) << c;
            masked += c == "****\r\n";
        }
        EXPECT_GE(masked, 2);
    }
}

// Prompts worded in another language are answered all the same; a 530
// after a working login gets one more login and MAIL FROM, never a loop.
TEST(SmtpSessionTest, MailFromRefusedWithLoginRequiredRetriesOnce) {
    const Step challenge{{"334 " + B64("Benutzer:") + "\r\n"}},
        secret{{"334 " + B64("Kennwort:") + "\r\n"}};
    ScriptedServer server({"220 fake\r\n"}, {{{"250-fake\r\n", "250 AUTH LOGIN\r\n"}},
                                             challenge,
                                             secret,
                                             {{"235 ok\r\n"}},
                                             {{"530 login first\r\n"}},
                                             challenge,
                                             secret,
                                             {{"235 ok\r\n"}},
                                             {{"530 still no\r\n"}},
                                             {{"221 bye\r\n"}}});
    RecordingSmtp smtp;
    smtp.SetLogin("user", "pw");
    ASSERT_EQ(smtp.Connect(server.address().c_str()), 1);
    CSmtpMessage m = Mail("to@x.example");
    EXPECT_EQ(smtp.SendMessage(m), 530);
    smtp.Close();
    const std::vector<std::string> lines = server.Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
              (std::vector<std::string>{"AUTH LOGIN", B64("user"), B64("pw"),
                                        "MAIL FROM:<from@x.example>"}));
    EXPECT_EQ(lines[8], "MAIL FROM:<from@x.example>");
    EXPECT_EQ(lines[9], "QUIT");
    ASSERT_EQ(smtp.errors.size(), 1u);
    EXPECT_EQ(smtp.errors[0], (std::pair<int, std::string>{530, "530 still no"}));
}

// Replies split across reads and a bare three-digit reply are read whole;
// HELO after a refused EHLO logs in with nothing; a third challenge is
// cancelled.
TEST(SmtpSessionTest, SplitRepliesHeloFallbackAndCancelledThirdChallenge) {
    {
        ScriptedServer server({"220-fake.example\r\n22", "0 ready\r\n"}, {{{"502 no\r\n"}},
                                                                          {{"2", "50 hi\r\n"}},
                                                                          {{"250\r\n"}},
                                                                          {{"250 ok\r\n"}},
                                                                          {{"354 go\r\n"}},
                                                                          {{"250 ok\r\n"}, true},
                                                                          {{"221 bye\r\n"}}});
        RecordingSmtp smtp;
        smtp.SetLogin("user", "pw");
        ASSERT_EQ(smtp.Connect(server.address().c_str()), 1) << smtp.LastResponse();
        EXPECT_FALSE(smtp.IsExtended());
        CSmtpMessage m = Mail("to@x.example", "line\n.\n");
        EXPECT_EQ(smtp.SendMessage(m), 0) << smtp.LastResponse();
        smtp.Close();
        const std::vector<std::string> lines = server.Lines();
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(lines[1].substr(0, 5), "HELO ");
        EXPECT_EQ(lines[2], "MAIL FROM:<from@x.example>");
        EXPECT_EQ(lines[3], "RCPT TO:<to@x.example>");
        EXPECT_TRUE(lines[5].ends_with("\r\n\r\nline\r\n..\r\n.")) << lines[5];
    }
    {
        ScriptedServer server({"220 fake\r\n"}, {{{"250 AUTH LOGIN\r\n"}},
                                                 {{"334 a\r\n"}},
                                                 {{"334 b\r\n"}},
                                                 {{"334 c\r\n"}},
                                                 {{"501 cancelled\r\n"}},
                                                 {{"221 bye\r\n"}}});
        RecordingSmtp smtp;
        smtp.SetLogin("user", "pw");
        ASSERT_EQ(smtp.Connect(server.address().c_str()), 1);
        smtp.Close();
        const std::vector<std::string> lines = server.Lines();
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ(lines[4], "*");
        EXPECT_EQ(lines[5], "QUIT");
        ASSERT_EQ(smtp.errors.size(), 1u);
        EXPECT_EQ(smtp.errors[0].first, 501);
    }
}

// A server that closes during DATA, one that goes silent, one whose reply
// overruns the buffer, a refusing greeting, a stop request and an empty
// server name: each ends with a code and one error note, and the process
// lives on (no SIGPIPE).
TEST(SmtpSessionTest, FaultsEndTheSessionWithACode) {
    varntest::TempDir dir;
    std::string big(3 << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 97)
        big[i] = static_cast<char>(i);
    varntest::TempDir::WriteFile(dir / "big.bin", big);
    {
        ScriptedServer server(
            {"220 fake\r\n"},
            {{{"250 ok\r\n"}}, {{"250 ok\r\n"}}, {{"250 ok\r\n"}}, {{"354 go\r\n"}}}, true);
        RecordingSmtp smtp;
        ASSERT_EQ(smtp.Connect(server.address().c_str()), 1);
        CSmtpMessage m = Mail("to@x.example");
        m.AddAttachment({.strPath = dir / "big.bin"});
        // The script ends after 354: its socket closes under the data.
        EXPECT_EQ(smtp.SendMessage(m), -1);
        EXPECT_EQ(smtp.LastCode(), -1);
        ASSERT_EQ(smtp.errors.size(), 1u);
        EXPECT_EQ(smtp.errors[0].first, -1);
        EXPECT_FALSE(smtp.IsConnected());
    }
    const auto expectFailure = [](const std::string& address, const std::string& why,
                                  const std::atomic<int>* stop = nullptr) {
        RecordingSmtp smtp;
        smtp.SetTimeout(1);
        smtp.SetStopFlag(stop);
        EXPECT_EQ(smtp.Connect(address.c_str()), 0) << why;
        EXPECT_EQ(smtp.errors.size(), 1u) << why;
        if (smtp.errors.empty())
            return 0;
        EXPECT_NE(smtp.errors[0].second.find(why), std::string::npos) << smtp.errors[0].second;
        return smtp.errors[0].first;
    };
    {
        ScriptedServer silent({"220 fake\r\n"}, std::vector<Step>{Step{}});
        EXPECT_EQ(expectFailure(silent.address(), "time-out"), -1);
        EXPECT_EQ(silent.Lines().size(), 1u);  // EHLO only: no HELO to a silent server
    }
    {
        ScriptedServer overlong({std::string(2000, '2')}, {});
        EXPECT_EQ(expectFailure(overlong.address(), "longer"), -1);
    }
    {
        ScriptedServer refusing({"554 go away\r\n"}, {{{"250 ok\r\n"}}});
        EXPECT_EQ(expectFailure(refusing.address(), "go away"), 554);
        EXPECT_TRUE(refusing.Lines().empty());  // no EHLO, no QUIT
    }
    {
        // Raised by the server once the greeting went out: the wait for
        // the EHLO reply ends on it, not on the time-out.
        std::atomic<int> stop{0};
        varntest::FakeServer stopper([&](varntest::FakeServer::Connection& c) {
            c.Send("220 fake\r\n");
            c.ReadUntil("\r\n");
            stop = 1;
            c.WaitForClose();
        });
        RecordingSmtp smtp;
        smtp.SetStopFlag(&stop);
        EXPECT_EQ(smtp.Connect(("127.0.0.1:" + std::to_string(stopper.port())).c_str()), 0);
        EXPECT_NE(smtp.LastResponse().find("stopped"), std::string::npos) << smtp.LastResponse();
    }
    EXPECT_EQ(expectFailure("", "no mail server"), -1);
    std::string host;
    int port = 0;
    EXPECT_TRUE(mail::SplitServer("mail.example", 25, &host, &port));
    EXPECT_EQ(std::make_pair(host, port), std::make_pair(std::string("mail.example"), 25));
    EXPECT_TRUE(mail::SplitServer("[::1]:2525", 25, &host, &port));
    EXPECT_EQ(std::make_pair(host, port), std::make_pair(std::string("::1"), 2525));
    EXPECT_TRUE(mail::SplitServer("::1", 25, &host, &port));
    EXPECT_EQ(port, 25);
    for (const char* bad : {":25", "host:", "host:0", "host:70000", "host:2x", "[::1"})
        EXPECT_FALSE(mail::SplitServer(bad, 25, &host, &port)) << bad;
}

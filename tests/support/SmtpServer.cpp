#include "support/SmtpServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/HttpServer.h"
#include "support/ServerChild.h"

namespace varntest {
namespace {

const char* const kPython = "/usr/bin/python3";

// Stores each message as msgNNN.eml (sender line, recipients line, data),
// renamed into place once complete, so a reader never sees half of one.
const char* const kScript = R"PY(
import os, signal, sys
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

port, out, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
count = 0

class Handler:
    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.startswith('reject'):
            return '550 5.1.1 mailbox unavailable'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        base = os.path.join(out, 'msg%03d' % count)
        with open(base + '.tmp', 'wb') as f:
            f.write(envelope.mail_from.encode() + b'\n')
            f.write(','.join(envelope.rcpt_tos).encode() + b'\n')
            f.write(envelope.original_content)
        os.rename(base + '.tmp', base + '.eml')
        return '250 2.0.0 accepted'

def authenticate(server, session, envelope, mechanism, data):
    ok = (isinstance(data, LoginPassword) and data.login == user.encode()
          and data.password == password.encode())
    with open(os.path.join(out, 'auth.log'), 'a') as f:
        f.write('ok\n' if ok else 'fail\n')
    return AuthResult(success=ok, handled=False)

options = {}
if user:
    options = dict(authenticator=authenticate, auth_required=True, auth_require_tls=False)
controller = Controller(Handler(), hostname='127.0.0.1', port=port, **options)
controller.start()
open(os.path.join(out, 'ready'), 'w').close()
signal.signal(signal.SIGTERM, lambda *a: (controller.stop(), sys.exit(0)))
while True:
    signal.pause()
)PY";

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

SmtpServer::SmtpServer(const std::string& user, const std::string& password) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "varn-smtp-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("SmtpServer: mkdtemp failed");
    m_dir = tmpl;
    std::ofstream(m_dir + "/server.py") << kScript;
    // Another process may take the picked port before the server binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = PickFreePort();
        if (port != 0 && StartOnce(port, user, password)) {
            m_port = port;
            return;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    throw std::runtime_error("SmtpServer: aiosmtpd did not start");
}

bool SmtpServer::StartOnce(int port, const std::string& user, const std::string& password) {
    // Controller.start returns once the server answers; the script then
    // leaves the "ready" file.
    const pid_t pid = StartServing(
        {kPython, m_dir + "/server.py", std::to_string(port), m_dir, user, password},
        m_dir + "/server.log", 300, [this] { return std::filesystem::exists(m_dir + "/ready"); });
    if (pid < 0)
        return false;
    m_pid = pid;
    return true;
}

SmtpServer::~SmtpServer() {
    StopServing(m_pid);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::vector<SmtpServer::Message> SmtpServer::Messages(size_t minCount) const {
    std::vector<Message> messages;
    for (int i = 0; i < 100; ++i) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir))
            if (e.path().extension() == ".eml")
                names.push_back(e.path().string());
        if (names.size() >= minCount || i == 99) {
            std::sort(names.begin(), names.end());
            messages.clear();
            for (const std::string& name : names) {
                std::ifstream in(name, std::ios::binary);
                Message m;
                std::getline(in, m.from);
                std::string to;
                std::getline(in, to);
                std::stringstream split(to);
                for (std::string r; std::getline(split, r, ',');)
                    m.to.push_back(r);
                m.data.assign(std::istreambuf_iterator<char>(in), {});
                messages.push_back(std::move(m));
            }
            return messages;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return messages;
}

std::vector<std::string> SmtpServer::AuthResults() const {
    return Lines(m_dir + "/auth.log");
}

}  // namespace varntest

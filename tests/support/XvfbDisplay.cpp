#include "support/XvfbDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace varntest {
namespace {

constexpr int kStartTimeoutMs = 30000;

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    // Xvfb exits at once on SIGTERM; the bound only guards a wedged server.
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(50 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

XvfbDisplay::XvfbDisplay(const std::string& screen) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("XvfbDisplay: pipe failed");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("XvfbDisplay: fork failed");
    }
    if (pid == 0) {
        // A test process that dies (a crash, an X error) takes its server
        // with it instead of leaving it running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes its display number and a newline when it is ready;
    // end of file first means it died (or was never there).
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (number.find('\n') == std::string::npos && poll(&p, 1, kStartTimeoutMs) == 1 &&
           read(fds[0], &c, 1) == 1)
        number.push_back(c);
    close(fds[0]);
    if (number.empty() || number.back() != '\n') {
        Stop(pid);
        throw std::runtime_error(
            "XvfbDisplay: Xvfb did not start (is it installed? apt-get install xvfb)");
    }
    number.pop_back();
    m_pid = pid;
    m_name = ":" + number;
}

XvfbDisplay::~XvfbDisplay() {
    if (m_pid > 0)
        Stop(m_pid);
}

void XvfbDisplay::UseForThisProcess() const {
    setenv("DISPLAY", m_name.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
}

}  // namespace varntest

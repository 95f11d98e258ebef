// Terminal queries and the interrupt flag of the headless host.
#include "platform/Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace plat {
namespace {

// Lock-free, so the signal handler may set it.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int sig) {
    if (g_interrupts.fetch_add(1) >= 1) {
        // The second Ctrl-C: the user wants out now.
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

}  // namespace

bool IsTerminal(int fd) {
    return isatty(fd) == 1;
}

int TerminalColumns(int fd) {
    winsize ws{};
    if (ioctl(fd, TIOCGWINSZ, &ws) != 0) {
        return 0;
    }
    return ws.ws_col;
}

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    // Restart interrupted reads and waits: the flag is polled, not awaited.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool InterruptRequested() {
    return g_interrupts.load() > 0;
}

}  // namespace plat

#include "support/ServerChild.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace varntest {

bool WaitUntilServing(pid_t pid, int tries, const std::function<bool()>& ready) {
    for (int i = 0; i < tries; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return false;
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void StopServing(pid_t pid) {
    kill(pid, SIGTERM);
    bool reaped = false;
    for (int i = 0; i < 100 && !(reaped = waitpid(pid, nullptr, WNOHANG) == pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!reaped) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace varntest

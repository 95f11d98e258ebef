#include "support/ServerChild.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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

pid_t StartServing(const std::vector<std::string>& argv, const std::string& errorLog, int tries,
                   const std::function<bool()>& ready) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (!freopen(errorLog.c_str(), "a", stderr))
            _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    return WaitUntilServing(pid, tries, ready) ? pid : -1;
}

bool AcceptsOnLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
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

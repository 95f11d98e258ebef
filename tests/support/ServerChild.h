// The life of a test server run as a child process: waiting for it to be
// ready, and stopping it. Shared by the servers the tests start.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace varntest {

// Polls ready() every 50 ms, up to tries times, while the child pid runs.
// True once it is ready; false when it exited first (most likely its port
// was taken) or never got ready, in which case it is killed and reaped.
bool WaitUntilServing(pid_t pid, int tries, const std::function<bool()>& ready);

// Starts argv (argv[0] is the program's path) with its standard error
// appended to errorLog, and waits for it as WaitUntilServing does. The
// child's pid, or -1 when it did not come to serve.
pid_t StartServing(const std::vector<std::string>& argv, const std::string& errorLog, int tries,
                   const std::function<bool()>& ready);

// True when something accepts TCP connections on 127.0.0.1:port.
bool AcceptsOnLoopback(int port);

// SIGTERM, up to five seconds for the child to end, then SIGKILL; reaped.
void StopServing(pid_t pid);

}  // namespace varntest

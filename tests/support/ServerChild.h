// The life of a test server run as a child process: waiting for it to be
// ready, and stopping it. Shared by the servers the tests start.
#pragma once
#include <sys/types.h>

#include <functional>

namespace varntest {

// Polls ready() every 50 ms, up to tries times, while the child pid runs.
// True once it is ready; false when it exited first (most likely its port
// was taken) or never got ready, in which case it is killed and reaped.
bool WaitUntilServing(pid_t pid, int tries, const std::function<bool()>& ready);

// SIGTERM, up to five seconds for the child to end, then SIGKILL; reaped.
void StopServing(pid_t pid);

}  // namespace varntest

#include "platform/Desktop.h"

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/Error.h"
#include "platform/Process.h"
#include "platform/Win32Types.h"

namespace plat {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// The opener returns as soon as it has handed the target on; its exit is
// collected on a thread of its own so that no zombie stays behind and the
// caller (a window's main loop) never waits.
bool RunOpener(const std::string& target) {
    uint32_t pid = 0;
    if (!StartProcess("xdg-open", {target}, &pid)) {
        return false;
    }
    std::thread([pid] {
        int status = 0;
        while (waitpid(static_cast<pid_t>(pid), &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

bool OpenInBrowser(const std::string& url) {
    if (!StartsWith(url, "http://") && !StartsWith(url, "https://")) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    return RunOpener(url);
}

bool OpenFolder(const std::string& path) {
    if (!StartsWith(path, "/")) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    return RunOpener(path);
}

std::vector<int> CloseRequestSignals() {
    return {SIGTERM, SIGINT, SIGHUP};
}

}  // namespace plat

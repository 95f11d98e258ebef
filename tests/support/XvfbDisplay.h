// A private virtual X display (Xvfb) for tests that draw windows. The
// server picks a free display number itself (-displayfd) and reports it
// once it accepts connections, so tests need neither a guessed number nor
// a wait. The destructor stops it. Throws std::runtime_error when Xvfb
// cannot be started: a missing Xvfb is a test failure, not a skip.
// Not thread-safe; one per test process is plenty.
#pragma once
#include <sys/types.h>

#include <string>

namespace varntest {

class XvfbDisplay {
public:
    explicit XvfbDisplay(const std::string& screen = "1024x768x24");
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N"
    const std::string& name() const { return m_name; }
    // Points this process's toolkit at the display (call before gtk_init):
    // DISPLAY, the X11 back end, and no desktop services a bare X server
    // lacks (accessibility bus, settings daemon).
    void UseForThisProcess() const;

private:
    pid_t m_pid = -1;
    std::string m_name;
};

}  // namespace varntest

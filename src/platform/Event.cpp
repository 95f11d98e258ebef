// Win32-style events on a mutex and a condition variable.
#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Error.h"

namespace plat {

class EventObject {
public:
    EventObject(bool manualReset, bool signalled) : m_manual(manualReset), m_signalled(signalled) {}

    bool Set() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            return false;
        }
        m_signalled = true;
        // An auto-reset event releases one waiter; notify_all is still
        // right because the woken waiters race for the one signal.
        m_cv.notify_all();
        return true;
    }

    bool Reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            return false;
        }
        m_signalled = false;
        return true;
    }

    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_cv.notify_all();
    }

    uint32_t Wait(uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto ready = [this] { return m_closed || m_signalled; };
        // A zero time-out is a test: answer at once, without a timed wait
        // that could give the CPU away (the download loop tests per 4 KiB).
        if (timeoutMs == 0 && !ready()) {
            return WAIT_TIMEOUT_CODE;
        }
        if (timeoutMs == INFINITE_WAIT) {
            m_cv.wait(lock, ready);
        } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
            return WAIT_TIMEOUT_CODE;
        }
        if (m_closed) {
            SetLastError(ERROR_INVALID_HANDLE_CODE);
            return WAIT_FAILED_CODE;
        }
        if (!m_manual) {
            m_signalled = false;
        }
        return WAIT_OBJECT_0_CODE;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    const bool m_manual;
    bool m_signalled;
    bool m_closed = false;
};

EventHandle CreateEvent(bool manualReset, bool initiallySignalled) {
    return std::make_shared<EventObject>(manualReset, initiallySignalled);
}

bool SetEvent(const EventHandle& ev) {
    if (!ev || !ev->Set()) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return false;
    }
    return true;
}

bool ResetEvent(const EventHandle& ev) {
    if (!ev || !ev->Reset()) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return false;
    }
    return true;
}

uint32_t WaitForSingleObject(const EventHandle& ev, uint32_t timeoutMs) {
    if (!ev) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return WAIT_FAILED_CODE;
    }
    return ev->Wait(timeoutMs);
}

void CloseEvent(EventHandle& ev) {
    if (ev) {
        ev->Close();
        ev.reset();
    }
}

}  // namespace plat

// Threads with Win32-style suspension, the tick counter, local time and the
// critical section.
#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Error.h"
#include "platform/Win32Types.h"

namespace plat {

class ThreadObject {
public:
    explicit ThreadObject(bool suspended) : m_suspendCount(suspended ? 1 : 0) {}

    unsigned Resume() {
        std::lock_guard<std::mutex> lock(m_mutex);
        const unsigned before = m_suspendCount;
        if (m_suspendCount > 0) {
            --m_suspendCount;
        }
        m_cv.notify_all();
        return before;
    }

    unsigned Suspend() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_suspendCount++;
    }

    bool BlockWhileSuspended() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_suspendCount == 0) {
            return false;
        }
        m_cv.wait(lock, [this] { return m_suspendCount == 0; });
        return true;
    }

    void Finish(unsigned exitCode) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_exitCode = exitCode;
        m_done = true;
        m_cv.notify_all();
    }

    bool WaitDone(uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto done = [this] { return m_done; };
        if (timeoutMs == INFINITE_WAIT) {
            m_cv.wait(lock, done);
            return true;
        }
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }

    bool ExitCode(uint32_t& code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        code = m_exitCode;
        return m_done;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    unsigned m_suspendCount;
    bool m_done = false;
    unsigned m_exitCode = 0;
};

namespace {

// The handle of the thread running on this thread, for SuspendPoint; empty
// on threads not started through CreateThread.
thread_local ThreadHandle t_self;

}  // namespace

ThreadHandle CreateThread(std::function<unsigned()> fn, bool suspended, uint32_t* threadId) {
    auto handle = std::make_shared<ThreadObject>(suspended);
    // The id is known only once the thread runs; the creator waits for it so
    // that the caller gets it as from the Win32 call.
    struct Start {
        std::mutex m;
        std::condition_variable cv;
        uint32_t id = 0;
        bool ready = false;
    };
    auto start = std::make_shared<Start>();
    try {
        std::thread t([handle, start, fn = std::move(fn)]() mutable {
            {
                std::lock_guard<std::mutex> lock(start->m);
                start->id = GetCurrentThreadId();
                start->ready = true;
                start->cv.notify_all();
            }
            t_self = handle;
            handle->BlockWhileSuspended();
            unsigned code = 0;
            try {
                code = fn();
            } catch (...) {
                // An escaping exception would end the whole process; the
                // thread ends with a failure code instead.
                code = ERROR_GEN_FAILURE_CODE;
            }
            fn = nullptr;
            handle->Finish(code);
            t_self.reset();
        });
        t.detach();
    } catch (const std::system_error& e) {
        SetLastErrorFromErrno(e.code().value());
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(start->m);
    start->cv.wait(lock, [&] { return start->ready; });
    if (threadId != nullptr) {
        *threadId = start->id;
    }
    return handle;
}

uint32_t ResumeThread(const ThreadHandle& t) {
    return t ? t->Resume() : 0;
}

uint32_t SuspendThread(const ThreadHandle& t) {
    return t ? t->Suspend() : 0;
}

bool SuspendPoint() {
    return t_self && t_self->BlockWhileSuspended();
}

bool RunCheckPoint(const EventHandle& stopEvent, bool* parked) {
    // Held before the test, so that a stop given while the thread was held
    // is seen as soon as it runs again.
    if (SuspendPoint() && parked != nullptr) {
        *parked = true;
    }
    return WaitForSingleObject(stopEvent, 0) == WAIT_TIMEOUT_CODE;
}

bool WaitForThread(const ThreadHandle& t, uint32_t timeoutMs) {
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return false;
    }
    return t->WaitDone(timeoutMs);
}

bool GetThreadExitCode(const ThreadHandle& t, uint32_t& code) {
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return false;
    }
    return t->ExitCode(code);
}

uint32_t GetCurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

void Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

LocalTime GetLocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

ZonedTime GetZonedTime() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec},
            tm.tm_wday,
            static_cast<int>(tm.tm_gmtoff / 60)};
}

struct CriticalSection::Impl {
    // Recursive, as a Win32 critical section is: a logging call made while
    // the owner already holds it must not deadlock.
    std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : m_impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() {
    m_impl->mutex.lock();
}
void CriticalSection::Leave() {
    m_impl->mutex.unlock();
}

}  // namespace plat

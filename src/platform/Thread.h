// Threads, sleeping, the millisecond tick counter and local time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Event.h"

namespace plat {

class ThreadObject;
using ThreadHandle = std::shared_ptr<ThreadObject>;

// Starts fn on a new thread. When suspended, fn does not run until
// ResumeThread. Returns an empty handle (last error set) on failure.
// The thread is detached from the handle's lifetime: dropping every handle
// does not stop or join it.
ThreadHandle CreateThread(std::function<unsigned()> fn, bool suspended, uint32_t* threadId);
// Suspension counts as on Win32: each SuspendThread adds one, each
// ResumeThread takes one away, and the thread runs at count 0. Both return
// the count before the call (0 for an empty handle). A running thread is
// held only at its next SuspendPoint() or RunCheckPoint(): this platform
// cannot freeze another thread at an arbitrary place.
uint32_t ResumeThread(const ThreadHandle& t);
uint32_t SuspendThread(const ThreadHandle& t);
// Blocks while the calling thread's handle is suspended; true when it did.
// A no-op on threads not started through CreateThread.
bool SuspendPoint();
// The check a worker makes before each block, entry or file of a stoppable
// step: waits at SuspendPoint, then tests the run's stop event without
// waiting. True while the run may go on (the event is installed, neither
// signalled nor closed). *parked, when given, is set to true when the thread
// was held and left alone otherwise, so one flag can cover a whole step.
// A stop does not wake a held thread by itself: whoever stops a worker that
// may be suspended resumes it too.
bool RunCheckPoint(const EventHandle& stopEvent, bool* parked = nullptr);
// Waits for the thread to end; true when it ended within timeoutMs.
bool WaitForThread(const ThreadHandle& t, uint32_t timeoutMs);
// The value fn returned, once the thread has ended; false while it runs.
bool GetThreadExitCode(const ThreadHandle& t, uint32_t& code);
uint32_t GetCurrentThreadId();

void Sleep(uint32_t ms);
// Milliseconds since an arbitrary start (monotonic), wrapping at 2^32.
uint32_t GetTickCount();

struct LocalTime {
    int year, month, day, hour, minute, second;  // month 1-12
};
LocalTime GetLocalTime();

// The local time with what a mail's Date line needs besides: the day of the
// week (0 Sunday) and the offset from UTC in minutes, daylight saving
// included (east positive).
struct ZonedTime {
    LocalTime local;
    int weekday;
    int utcOffsetMinutes;
};
ZonedTime GetZonedTime();

// A mutex usable as the Win32 critical section of a class.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter();
    void Leave();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~CriticalSectionLock() { m_cs.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& m_cs;
};

}  // namespace plat

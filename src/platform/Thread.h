// Threads, sleeping, the millisecond tick counter and local time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

class ThreadObject;
using ThreadHandle = std::shared_ptr<ThreadObject>;

// Starts fn on a new thread. When suspended, fn does not run until
// ResumeThread. Returns an empty handle (last error set) on failure.
// The thread is detached from the handle's lifetime: dropping every handle
// does not stop or join it.
ThreadHandle CreateThread(std::function<unsigned()> fn, bool suspended, uint32_t* threadId);
// Lets a thread created suspended, or suspended later, run. A thread that
// runs on is suspended only at its next SuspendPoint() call: this platform
// cannot freeze another thread at an arbitrary place.
void ResumeThread(const ThreadHandle& t);
void SuspendThread(const ThreadHandle& t);
// Called by long-running loops of the worker: blocks while the calling
// thread's handle is suspended.
void SuspendPoint();
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

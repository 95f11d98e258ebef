// CClosingTicker: keeps the progress display moving while a pack file is
// being closed, which can take long and reports nothing of its own. While
// active it calls the tick function once every two seconds, the first time
// when two seconds have passed since Start.
//
// Threads: Start and Stop come from the update worker; the tick function
// runs on the ticker's own thread, which is created by the first Start and
// lives until the object is destroyed (the destructor stops and joins it).
// The thread sleeps on a condition variable: it uses no processor while
// inactive or between ticks.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class CClosingTicker {
public:
    explicit CClosingTicker(std::function<void()> tick);
    ~CClosingTicker();
    CClosingTicker(const CClosingTicker&) = delete;
    CClosingTicker& operator=(const CClosingTicker&) = delete;

    // Starts the thread on first use, then restarts the two-second rhythm.
    void Start();
    // Ends the ticking; returns once a tick that was running has finished.
    // Not to be called from the tick function itself.
    void Stop();
    bool IsActive();

private:
    void Run();

    std::function<void()> m_fnTick;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::condition_variable m_Idle;
    std::thread m_Thread;
    bool m_bActive = false;
    bool m_bSend = false;
    bool m_bTicking = false;
    bool m_bQuit = false;
    uint32_t m_dwStartTime = 0;
    uint32_t m_dwLastSecond = 0;
};

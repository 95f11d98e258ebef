// The closing ticker's thread: a two-second rhythm measured from Start.
#include "engine/ClosingTicker.h"

#include <chrono>

#include "platform/Thread.h"

CClosingTicker::CClosingTicker(std::function<void()> tick) : m_fnTick(std::move(tick)) {}

CClosingTicker::~CClosingTicker() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_bQuit = true;
    }
    m_Wake.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
}

void CClosingTicker::Start() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (!m_Thread.joinable())
            m_Thread = std::thread([this] { Run(); });
        m_bActive = true;
        m_dwStartTime = plat::GetTickCount();
        m_dwLastSecond = 0;
        m_bSend = false;
    }
    m_Wake.notify_all();
}

void CClosingTicker::Stop() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_bActive = false;
    // A tick in progress writes the shared progress record; let it finish so
    // the caller's own writes to the record come strictly after it.
    m_Idle.wait(lock, [this] { return !m_bTicking; });
}

bool CClosingTicker::IsActive() {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_bActive;
}

void CClosingTicker::Run() {
    std::unique_lock<std::mutex> lock(m_Lock);
    while (!m_bQuit) {
        if (!m_bActive) {
            m_Wake.wait(lock);
            continue;
        }
        const uint32_t elapsed = plat::GetTickCount() - m_dwStartTime;
        const uint32_t second = elapsed / 1000;
        if (second != m_dwLastSecond) {
            if (second % 2 == 0)
                m_bSend = true;
            m_dwLastSecond = second;
        }
        if (m_bSend) {
            m_bSend = false;
            m_bTicking = true;
            // The tick raises a notification: never call out under the lock.
            lock.unlock();
            m_fnTick();
            lock.lock();
            m_bTicking = false;
            m_Idle.notify_all();
            continue;
        }
        // Sleep to the next whole second (plus a little, so the wake-up
        // lands past the boundary rather than just before it).
        const uint32_t wait = 1000 - elapsed % 1000 + 5;
        m_Wake.wait_for(lock, std::chrono::milliseconds(wait));
    }
}

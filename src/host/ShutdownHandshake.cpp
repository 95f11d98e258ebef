#include "host/ShutdownHandshake.h"

#include "base/UpdateTypes.h"

std::vector<ShutdownStep> CShutdownHandshake::RequestClose(bool haveModule) {
    if (m_phase == Phase::Ended || m_closing) {
        return {};
    }
    m_closing = true;
    if (!haveModule) {
        m_phase = Phase::Ended;
        return {{ShutdownAction::Log, "이미 종료되었습니다."}, {ShutdownAction::Quit, ""}};
    }
    std::vector<ShutdownStep> steps = {{ShutdownAction::CallCloseThread, ""},
                                       {ShutdownAction::HideWindow, ""}};
    if (m_phase == Phase::Running) {
        // After a failure the poll timer already runs; it serves this close too.
        m_phase = Phase::Stopping;
        steps.push_back({ShutdownAction::StartTimer, ""});
    }
    return steps;
}

std::vector<ShutdownStep> CShutdownHandshake::StartAfterFailure() {
    if (m_phase != Phase::Running) {
        return {};
    }
    m_phase = Phase::Stopping;
    return {{ShutdownAction::StartTimer, ""}};
}

std::vector<ShutdownStep> CShutdownHandshake::OnTick(bool haveModule, bool threadClosed) {
    if (m_phase != Phase::Stopping) {
        return {};
    }
    if (!haveModule || threadClosed) {
        return Finish(haveModule);
    }
    ++m_ticks;
    ++m_silentTicks;
    std::vector<ShutdownStep> steps = {{ShutdownAction::Log, "Not yet process completed..."}};
    if (m_ticks == kFinishingTicks) {
        steps.push_back({ShutdownAction::ShowFinishing, ""});
    }
    if (m_silentTicks >= kStuckTicks && !m_packClosing) {
        // Nothing from the worker for half a minute: it is stuck (a dead
        // connection, say). Deleting the module under it would crash, and
        // waiting for ever would leave a process holding the instance lock.
        m_phase = Phase::Ended;
        steps.push_back({ShutdownAction::StopTimer, ""});
        steps.push_back({ShutdownAction::Log, "The update did not stop; ending without it."});
        steps.push_back({ShutdownAction::ForceQuit, ""});
    }
    return steps;
}

void CShutdownHandshake::OnNotification(int32_t code, uint64_t percent) {
    m_silentTicks = 0;
    // The closing animation counts 1-100 while a pack closes; the close's
    // end is reported as 100 and followed by other notifications.
    m_packClosing = code == NOTIFY_PERCENT && percent < 100;
}

std::vector<ShutdownStep> CShutdownHandshake::Finish(bool haveModule) {
    m_phase = Phase::Ended;
    // Logged before the module goes: the log is written through it.
    std::vector<ShutdownStep> steps = {{ShutdownAction::StopTimer, ""},
                                       {ShutdownAction::Log, "업데이트 모듈이 삭제되었습니다."}};
    if (haveModule) {
        steps.push_back({ShutdownAction::DeleteModule, ""});
    }
    steps.push_back({ShutdownAction::Quit, ""});
    return steps;
}

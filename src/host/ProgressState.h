// CProgressState: what the update worker reports, handed to varn-patch's
// main thread. The progress callback runs on the worker (and on the main
// thread for start-up errors); every member takes one lock, so either side
// may call any of them.
#pragma once
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "base/UpdateTypes.h"
#include "host/ExitCode.h"
#include "host/ProgressLine.h"

class CProgressState {
public:
    // Records one notification; called from the progress callback. Copies
    // what it needs of the record, which the worker rewrites afterwards.
    void OnNotify(int code, const UPDATE_CALLBACK_INFO& info);
    // The run as last reported, with the current download's duration.
    ProgressSnapshot Snapshot() const;
    // Plain log lines since the last call, oldest first.
    std::vector<std::string> TakeLines();
    // True once notification 13 or 14 arrived.
    bool Finished() const;
    // Marks that the host asked the run to stop (before it finished).
    void MarkInterrupted();
    RunOutcome Outcome() const;
    // Message of the last error reported (notification 4), "" when none.
    std::string LastError() const;
    // Bumped on every notification, so a redraw can be skipped when nothing
    // changed.
    unsigned long Version() const;

private:
    using Clock = std::chrono::steady_clock;
    mutable std::mutex m_lock;
    ProgressSnapshot m_snapshot;
    Clock::time_point m_downloadStart{};
    std::vector<std::string> m_lines;
    RunOutcome m_outcome;
    std::string m_lastError;
    unsigned long m_version = 0;
};

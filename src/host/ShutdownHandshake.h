// CShutdownHandshake: how the launcher window ends while the update worker
// may still run. Every way of closing (the close button, the window
// manager, a started game, a failed update) goes through it: the worker is
// asked to stop, the window polls every kTickMs until it has, and only then
// is the module deleted and the main loop left. A plain state machine: the
// window feeds it events and carries out the steps it returns, in order.
// Used on the window's thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class ShutdownAction {
    Log,              // log text (SaveUpdateLog("%s\n", text) while the module exists)
    CallCloseThread,  // CloseThread on the module
    HideWindow,
    StartTimer,  // the kTickMs poll timer, calling OnTick
    StopTimer,
    ShowFinishing,  // a small "finishing" notice (ShowingPackClose tells what)
    DeleteModule,   // the worker has ended: delete the module, clear the pointer
    Quit,           // leave the main loop
    ForceQuit,      // end the process now; the module must not be deleted
};

struct ShutdownStep {
    ShutdownAction action;
    std::string text;  // for Log
};

class CShutdownHandshake {
public:
    static constexpr int kTickMs = 100;
    // The window is hidden at once; a worker still busy after this many
    // ticks gets the visible "finishing" notice.
    static constexpr int kFinishingTicks = 10;
    // A worker that has been silent this long after being asked to stop is
    // taken for stuck and the process ends without it. A pack close is
    // never silent (notification 16 every two seconds), so it is never cut.
    static constexpr int kStuckTicks = 300;

    enum class Phase { Running, Stopping, Ended };

    // Close button, window manager close, or the game was started.
    // haveModule: the module still exists. A second request does nothing.
    std::vector<ShutdownStep> RequestClose(bool haveModule);
    // The failure box was dismissed (or not shown): wait for the worker,
    // then quit; the window stays as it is.
    std::vector<ShutdownStep> StartAfterFailure();
    // The poll timer fired. threadClosed: IsClosedThread() was nonzero (or
    // there is no module).
    std::vector<ShutdownStep> OnTick(bool haveModule, bool threadClosed);
    // Every notification the window receives, in order (percent: the
    // record's nPercent).
    void OnNotification(int32_t code, uint64_t percent);

    Phase GetPhase() const { return m_phase; }
    // The user asked to close: failure boxes are no longer shown.
    bool Closing() const { return m_closing; }
    // A pack file is being closed right now (the last notification was the
    // closing animation and the close has not reported its end).
    bool PackClosing() const { return m_packClosing; }

private:
    std::vector<ShutdownStep> Finish(bool haveModule);

    Phase m_phase = Phase::Running;
    bool m_closing = false;
    bool m_packClosing = false;
    int m_ticks = 0;        // since the poll timer started
    int m_silentTicks = 0;  // since the last notification
};

// How a varn-patch run ends, and the process exit code it gives. The codes
// are documented in the help text and README: scripts rely on them.
#pragma once
#include <string>

enum : int {
    PATCH_EXIT_OK = 0,              // up to date (updated, or nothing to do)
    PATCH_EXIT_NOT_STARTED = 1,     // start-up check refused, or no run started
    PATCH_EXIT_USAGE = 2,           // the command line names an option no one knows
    PATCH_EXIT_CONNECT_FAILED = 3,  // the patch server could not be reached
    PATCH_EXIT_DAMAGED = 4,         // --verify/--repair: files missing or damaged remain
    PATCH_EXIT_FULL_VERSION = 6,    // only a full installation can update this game
    PATCH_EXIT_FAILED = 7,          // the update failed (see the error printed)
    PATCH_EXIT_INTERRUPTED = 130,   // stopped by Ctrl-C before it completed
};

struct RunOutcome {
    bool complete = false;           // notification 13 seen
    bool failed = false;             // notification 14 seen
    bool fullVersionNeeded = false;  // notification 15 seen
    bool interrupted = false;        // the host asked the run to stop first
    int lastCustomErrorCode = 0;     // of the last notification 4
};

// The exit code of a finished run. A stopped run ends "complete" in the
// engine's eyes, but the game is not up to date: that is never 0.
int ExitCodeFor(const RunOutcome& outcome);

// What a host knows when it has to explain a non-zero exit code.
struct FailureFacts {
    int exitCode = PATCH_EXIT_FAILED;
    std::string lastError;  // the recorded last error, "" when none
    std::string server;     // "host:port" of the patch server, "" when none is set
    std::string gameDir;    // the game directory
};

// The explanation of a non-zero exit code for the player: the recorded
// last error when there is one (with the server named for an unreachable
// server), otherwise a sentence naming the server or file concerned and
// what to do. "" for 0. Never "(no detail)".
std::string FailureText(const FailureFacts& facts);

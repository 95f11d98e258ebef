#include "host/ExitCode.h"

#include "base/UpdateTypes.h"
#include "platform/Path.h"

int ExitCodeFor(const RunOutcome& outcome) {
    if (outcome.interrupted) {
        return PATCH_EXIT_INTERRUPTED;
    }
    if (outcome.complete && !outcome.failed) {
        return PATCH_EXIT_OK;
    }
    if (!outcome.complete && !outcome.failed) {
        return PATCH_EXIT_NOT_STARTED;
    }
    if (outcome.fullVersionNeeded) {
        return PATCH_EXIT_FULL_VERSION;
    }
    if (outcome.lastCustomErrorCode == CUSTOM_ERROR_CONNECT) {
        return PATCH_EXIT_CONNECT_FAILED;
    }
    return PATCH_EXIT_FAILED;
}

namespace {

std::string Server(const std::string& server) {
    return server.empty() ? "the patch server" : "the patch server " + server;
}

std::string NoServerText(const std::string& gameDir) {
    return "no patch server is set: " + plat::JoinPath(gameDir, "version.ini") +
           " names none in [PATH] PatchRoot and no -ip option gives one; add "
           "PatchRoot=http://host/path there, or ask the server's operator for it";
}

// The engine records no error when only a full installation can help: the
// decision itself is the reason.
std::string FullInstallText(const FailureFacts& f) {
    return "only a full installation can update this game: its installation record " +
           plat::JoinPath(f.gameDir, "Update/version.uvf") +
           " is missing, unreadable or older than the oldest patch on " + Server(f.server) +
           ", and full installations are not downloaded here; install the game again from "
           "its full installer, or ask the server's operator";
}

std::string WithoutRecordText(const FailureFacts& f) {
    const std::string log = plat::JoinPath(f.gameDir, "Log");
    switch (f.exitCode) {
        case PATCH_EXIT_NOT_STARTED:
            return "the update did not start: another launcher or the game may still be "
                   "running from " +
                   f.gameDir + "; close it and try again (the log in " + log + " tells more)";
        case PATCH_EXIT_CONNECT_FAILED:
            return "could not reach " + Server(f.server) +
                   "; check the network connection and PatchRoot in " +
                   plat::JoinPath(f.gameDir, "version.ini") + ", or try again later";
        case PATCH_EXIT_FULL_VERSION:
            return FullInstallText(f);
        default:
            return "the update from " + Server(f.server) +
                   " failed without recording why; run it again, and if it fails again "
                   "send the log in " +
                   log + " to the server's operator";
    }
}

}  // namespace

std::string FailureText(const FailureFacts& f) {
    if (f.exitCode == PATCH_EXIT_OK) {
        return "";
    }
    if (f.exitCode == PATCH_EXIT_INTERRUPTED) {
        return "stopped before the update completed; the next update continues where this "
               "one stopped";
    }
    // Recorded texts may end in a line break (system texts, translations).
    const size_t end = f.lastError.find_last_not_of(" \t\r\n");
    const std::string error = end == std::string::npos ? "" : f.lastError.substr(0, end + 1);
    if (!error.empty()) {
        // The connect error text does not say which server it tried.
        if (f.exitCode == PATCH_EXIT_CONNECT_FAILED && !f.server.empty()) {
            return error + " (" + Server(f.server) + ")";
        }
        return error;
    }
    const bool needsServer =
        f.exitCode == PATCH_EXIT_CONNECT_FAILED || f.exitCode == PATCH_EXIT_FAILED;
    if (needsServer && f.server.empty()) {
        return NoServerText(f.gameDir);
    }
    return WithoutRecordText(f);
}

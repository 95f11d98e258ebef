#include "host/ExitCode.h"

#include "base/UpdateTypes.h"

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

#include "platform/FileLock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Error.h"
#include "platform/Win32Types.h"

namespace plat {

bool TryLockFile(std::FILE* file, bool exclusive) {
    int fd = fileno(file);
    while (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK) {
            SetLastError(ERROR_SHARING_VIOLATION_CODE);
        } else {
            SetLastErrorFromErrno();
        }
        return false;
    }
    return true;
}

bool FlushFile(std::FILE* file) {
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace plat

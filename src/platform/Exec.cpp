// Handing this process over to another program (ExecProgram).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Process.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace plat {

namespace {

// Marks every descriptor above standard error close-on-exec. Libraries open
// some without the flag (sockets, display connections); the successor must
// not inherit them, and the exec may still fail, so they are marked rather
// than closed.
void MarkDescriptorsCloseOnExec() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
#endif
    const long max = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (max > 0 ? max : 1024); ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
        }
    }
}

}  // namespace

bool ExecProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    MarkDescriptorsCloseOnExec();
    sigset_t none, previous;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, &previous);
    execv(program.c_str(), argv.data());
    const int err = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    SetLastErrorFromErrno(err);
    return false;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) {
        SetLastErrorFromErrno(S_ISREG(st.st_mode) ? errno : EACCES);
        return false;
    }
    return true;
}

}  // namespace plat

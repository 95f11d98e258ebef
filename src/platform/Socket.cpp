// TcpSocket over non-blocking POSIX sockets, waiting with poll in slices.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/Error.h"

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;

struct ErrnoWsa {
    int err;
    uint32_t code;
};

const ErrnoWsa kErrnoWsa[] = {
    {ECONNREFUSED, WSAECONNREFUSED_CODE},
    {ETIMEDOUT, WSAETIMEDOUT_CODE},
    {ECONNRESET, WSAECONNRESET_CODE},
    {EPIPE, WSAECONNRESET_CODE},
    {ECONNABORTED, WSAECONNABORTED_CODE},
    {ENETUNREACH, WSAENETUNREACH_CODE},
    {ENETDOWN, WSAENETUNREACH_CODE},
    {EHOSTUNREACH, WSAEHOSTUNREACH_CODE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL_CODE},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT_CODE},
    {ENOTCONN, WSAENOTCONN_CODE},
    {EMFILE, WSAEMFILE_CODE},
    {ENFILE, WSAEMFILE_CODE},
    {ENOBUFS, WSAENOBUFS_CODE},
    {ENOMEM, WSAENOBUFS_CODE},
    {EINVAL, WSAEINVAL_CODE},
    {EINTR, WSAEINTR_CODE},
};

uint32_t WsaFromGai(int status, int savedErrno) {
    switch (status) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND_CODE;
        case EAI_AGAIN:
            return WSATRY_AGAIN_CODE;
        case EAI_FAIL:
            return WSANO_RECOVERY_CODE;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA_CODE;
#endif
        case EAI_FAMILY:
            return WSAEAFNOSUPPORT_CODE;
        case EAI_MEMORY:
            return WSAENOBUFS_CODE;
        case EAI_SYSTEM:
            return WsaFromErrno(savedErrno);
        default:
            return WSAHOST_NOT_FOUND_CODE;
    }
}

bool Stopped(StopFlag stop) {
    return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

// Milliseconds left until deadline, at most one slice; 0 when it has passed.
int SliceUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return static_cast<int>(std::min<long long>(left, kSocketSliceMs));
}

// Waits until fd is ready for events (or reports an error or hang-up, which
// the following call then reads). 0 when ready, else the Windows Sockets
// code of why the wait ended.
uint32_t WaitReady(int fd, short events, Clock::time_point deadline, StopFlag stop) {
    for (;;) {
        if (Stopped(stop)) {
            return WSAEINTR_CODE;
        }
        const int slice = SliceUntil(deadline);
        if (slice == 0) {
            return WSAETIMEDOUT_CODE;
        }
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, slice);
        if (rc > 0) {
            return 0;
        }
        if (rc < 0 && errno != EINTR) {
            return WsaFromErrno(errno);
        }
    }
}

// One name resolution, shared by the caller and the resolving thread: a
// caller that gives up (time-out or stop) just drops its reference, and the
// thread frees the result whenever the resolver finally returns.
struct Resolution {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int status = EAI_FAIL;
    int savedErrno = 0;
    addrinfo* result = nullptr;
    ~Resolution() {
        if (result != nullptr) {
            freeaddrinfo(result);
        }
    }
};

addrinfo Hints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;  // IPv4 and IPv6 alike
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    return hints;
}

// getaddrinfo has no time-out of its own. It runs on a helper thread that
// the caller may abandon; getaddrinfo_a was not used because a request it
// fails to cancel must outlive the caller all the same, which needs this
// shared ownership anyway. Literal addresses resolve at once, in place.
// Returns 0 with *out set, or the Windows Sockets code of the failure.
uint32_t Resolve(const std::string& host, const std::string& service, Clock::time_point deadline,
                 StopFlag stop, std::shared_ptr<Resolution>* out) {
    auto state = std::make_shared<Resolution>();
    const addrinfo numeric = Hints(AI_NUMERICHOST);
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &numeric, &result);
    if (rc == 0) {
        state->result = result;
        *out = std::move(state);
        return 0;
    }
    if (rc != EAI_NONAME) {
        return WsaFromGai(rc, errno);
    }
    try {
        std::thread([state, host, service] {
            const addrinfo hints = Hints(0);
            addrinfo* found = nullptr;
            const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            const int savedErrno = errno;
            std::lock_guard<std::mutex> hold(state->lock);
            state->status = status;
            state->savedErrno = savedErrno;
            state->result = found;
            state->finished = true;
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return WSAENOBUFS_CODE;
    }
    std::unique_lock<std::mutex> hold(state->lock);
    while (!state->finished) {
        if (Stopped(stop)) {
            return WSAEINTR_CODE;
        }
        const int slice = SliceUntil(deadline);
        if (slice == 0) {
            return WSAETIMEDOUT_CODE;
        }
        state->done.wait_for(hold, std::chrono::milliseconds(slice));
    }
    if (state->status != 0) {
        return WsaFromGai(state->status, state->savedErrno);
    }
    hold.unlock();
    *out = std::move(state);
    return 0;
}

// One connection attempt to one address. Returns 0 with *fdOut set, or the
// Windows Sockets code of the failure (the descriptor closed).
uint32_t ConnectOne(const addrinfo& ai, Clock::time_point deadline, StopFlag stop, int* fdOut) {
    const int fd = socket(ai.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        return WsaFromErrno(errno);
    }
    // Linger 0: closing resets the connection at once, so an abandoned
    // query leaves nothing behind in TIME_WAIT or a send queue.
    const linger off{1, 0};
    (void)setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    uint32_t code = 0;
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        code =
            (errno == EINPROGRESS) ? WaitReady(fd, POLLOUT, deadline, stop) : WsaFromErrno(errno);
        if (code == 0) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
            code = (err == 0) ? 0 : WsaFromErrno(err);
        }
    }
    if (code != 0) {
        close(fd);
        return code;
    }
    *fdOut = fd;
    return 0;
}

}  // namespace

std::string GetComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) {
        return "";
    }
    return name;
}

int GetServicePort(const char* service, const char* protocol, int fallback) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    // The reentrant form: the worker and a window thread may both look up.
    if (getservbyname_r(service, protocol, &entry, buffer, sizeof(buffer), &found) != 0 ||
        found == nullptr) {
        return fallback;
    }
    return ntohs(static_cast<uint16_t>(found->s_port));
}

uint32_t WsaFromErrno(int err) {
    for (const ErrnoWsa& m : kErrnoWsa) {
        if (m.err == err) {
            return m.code;
        }
    }
    return WSASYSCALLFAILURE_CODE;
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool TcpSocket::Connect(const std::string& host, int port, uint32_t timeoutMs, StopFlag stop) {
    Close();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (port < 1 || port > 65535 || host.empty()) {
        SetLastError(WSAEADDRNOTAVAIL_CODE);
        return false;
    }
    std::shared_ptr<Resolution> resolved;
    uint32_t code = Resolve(host, std::to_string(port), deadline, stop, &resolved);
    if (code == 0) {
        code = WSAHOST_NOT_FOUND_CODE;
        for (const addrinfo* ai = resolved->result; ai != nullptr; ai = ai->ai_next) {
            code = ConnectOne(*ai, deadline, stop, &m_fd);
            // A time-out or stop ends the whole attempt; any other failure
            // belongs to this address only.
            if (code == 0 || code == WSAETIMEDOUT_CODE || code == WSAEINTR_CODE) {
                break;
            }
        }
    }
    SetLastError(code);
    return code == 0;
}

bool TcpSocket::SendAll(const void* data, size_t size, uint32_t timeoutMs, StopFlag stop) {
    if (m_fd < 0) {
        SetLastError(WSAENOTCONN_CODE);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = send(m_fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        uint32_t code = WSAECONNRESET_CODE;
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            code = WaitReady(m_fd, POLLOUT, deadline, stop);
        } else if (n < 0) {
            code = WsaFromErrno(errno);
        }
        if (code != 0) {
            SetLastError(code);
            return false;
        }
    }
    SetLastError(0);
    return true;
}

int TcpSocket::Receive(void* buffer, size_t size, uint32_t timeoutMs, StopFlag stop) {
    if (m_fd < 0) {
        SetLastError(WSAENOTCONN_CODE);
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size = std::min<size_t>(size, INT_MAX);
    for (;;) {
        const ssize_t n = recv(m_fd, buffer, size, 0);
        if (n >= 0) {
            SetLastError(0);
            return static_cast<int>(n);
        }
        uint32_t code = 0;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            code = WaitReady(m_fd, POLLIN, deadline, stop);
        } else if (errno != EINTR) {
            code = WsaFromErrno(errno);
        }
        if (code != 0) {
            SetLastError(code);
            return -1;
        }
    }
}

void TcpSocket::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

}  // namespace plat

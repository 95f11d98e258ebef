// TcpSocket: a small blocking-style TCP client for short request/answer
// exchanges. Every wait is bounded by a caller-given time-out and is cut
// into slices of kSocketSliceMs; between slices a caller-given stop flag is
// read, so a stop request ends any wait within one slice.
//
// Failures set the calling thread's last error (Error.h) to a Windows
// Sockets code (the WSA_* constants below), as the callers and their log
// lines expect.
//
// Threads: one thread uses an object at a time; the stop flag may be set
// from any thread.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// Windows Sockets error codes reported by TcpSocket.
constexpr uint32_t WSAEINTR_CODE = 10004;  // the wait was ended by a stop request
constexpr uint32_t WSAEINVAL_CODE = 10022;
constexpr uint32_t WSAEMFILE_CODE = 10024;
constexpr uint32_t WSAEAFNOSUPPORT_CODE = 10047;
constexpr uint32_t WSAEADDRNOTAVAIL_CODE = 10049;
constexpr uint32_t WSAENETUNREACH_CODE = 10051;
constexpr uint32_t WSAECONNABORTED_CODE = 10053;
constexpr uint32_t WSAECONNRESET_CODE = 10054;
constexpr uint32_t WSAENOBUFS_CODE = 10055;
constexpr uint32_t WSAENOTCONN_CODE = 10057;
constexpr uint32_t WSAETIMEDOUT_CODE = 10060;
constexpr uint32_t WSAECONNREFUSED_CODE = 10061;
constexpr uint32_t WSAEHOSTUNREACH_CODE = 10065;
constexpr uint32_t WSASYSCALLFAILURE_CODE = 10107;
constexpr uint32_t WSAHOST_NOT_FOUND_CODE = 11001;
constexpr uint32_t WSATRY_AGAIN_CODE = 11002;
constexpr uint32_t WSANO_RECOVERY_CODE = 11003;
constexpr uint32_t WSANO_DATA_CODE = 11004;

constexpr uint32_t kSocketSliceMs = 50;

// The stop flag: nonzero ends a wait. May be null (no stop).
using StopFlag = const std::atomic<int>*;

// The computer's network name (gethostname); "" when there is none.
std::string GetComputerName();

// The port of a named service ("smtp") over protocol ("tcp") from the
// services database; fallback when the database or the entry is missing.
int GetServicePort(const char* service, const char* protocol, int fallback);

// Maps an errno value of a socket call onto its Windows Sockets code.
uint32_t WsaFromErrno(int err);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket() { Close(); }
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host (a name, a dotted IPv4 or an IPv6 address) and connects
    // to port on the first address, IPv4 or IPv6, that accepts. timeoutMs
    // covers name resolution and every attempt together. An open socket is
    // closed first. Returns true when connected; false with the last error
    // set (WSAETIMEDOUT, WSAEINTR when stopped, WSAHOST_NOT_FOUND, or the
    // error of the last address tried, e.g. WSAECONNREFUSED), socket closed.
    bool Connect(const std::string& host, int port, uint32_t timeoutMs, StopFlag stop);

    // Sends all size bytes within timeoutMs. False with the last error set
    // (WSAETIMEDOUT, WSAEINTR, WSAECONNRESET, WSAENOTCONN when not open).
    bool SendAll(const void* data, size_t size, uint32_t timeoutMs, StopFlag stop);

    // Receives up to size bytes, waiting at most timeoutMs for the first.
    // Returns the count (> 0); 0 when the peer closed the connection (last
    // error 0); -1 on failure with the last error set (WSAETIMEDOUT,
    // WSAEINTR, WSAECONNRESET, WSAENOTCONN when not open).
    int Receive(void* buffer, size_t size, uint32_t timeoutMs, StopFlag stop);

    // Closes the socket; the peer sees a reset at once (linger 0), never a
    // lingering close. Safe to call again.
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace plat

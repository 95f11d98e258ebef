// CTransferSession: the backend that moves bytes for a transfer object. The
// rules a download follows (local file, blocks, notifications, stop test,
// error records) live in CDownloadLoop and the protocol classes; a session
// only talks to the server. One backend serves both protocols; the build
// chooses it (src/transfer/<backend>/, CreateTransferSession).
//
// Threads: a session is used by one thread at a time; its owner serialises.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

// HTTPS is HTTP over TLS with the peer's certificate checked.
enum class TransferProtocol { HTTP = 1, FTP = 2, HTTPS = 3 };

// Settings an operator or player may give for every connection of a run.
struct TransferOptions {
    // PEM file of further trusted certificate authorities; "" uses only the
    // system's store.
    std::string caFile;
    // Proxy for every request ("http://host:port", anything libcurl takes);
    // "" leaves the choice to the http_proxy, https_proxy, ftp_proxy and
    // no_proxy environment variables.
    std::string proxy;
    // Highest receive rate in bytes per second; 0 for none.
    uint64_t maxBytesPerSecond = 0;
};

// Where a session connects to, and with which time limits (seconds).
struct TransferEndpoint {
    std::string host;
    unsigned port = 0;
    std::string user;
    std::string password;
    std::string agent;
    long connectTimeout = 15;
    // A transfer that moves fewer than 1 byte/s for this long fails.
    long lowSpeedTime = 30;
    // Longest wait for one FTP control reply.
    long replyTimeout = 30;
    bool tls = false;  // HTTPS
    TransferOptions options;
};

// Receives one remote file. The session calls Begin once the file's size is
// known and before its first byte, then Write with the bytes as they come.
// A false return ends the transfer at once; the receiver knows why.
class CDownloadSink {
public:
    static constexpr uint64_t kUnknownSize = ~0ull;
    virtual ~CDownloadSink() = default;
    virtual bool Begin(uint64_t size) = 0;
    virtual bool Write(const char* data, size_t n) = 0;
    // Whether the run may go on (the stop test), without taking a block.
    virtual bool MayGoOn() = 0;
    // Whether the worker was held by a suspension since the last call.
    virtual bool TakeParked() = 0;
    virtual bool Began() const = 0;
    // The session asks for the rest of the file from this offset on.
    virtual void Resuming(uint64_t offset) {}
    virtual uint64_t Received() const = 0;
    // Bytes of the file the sink holds already, before the fetch: the session
    // asks only for what follows them, and Begin still gets the whole size.
    virtual uint64_t HeldBefore() const { return 0; }
    // The server sends the whole file after all: the held bytes are dropped.
    // false when they could not be.
    virtual bool DropHeld() { return true; }
    // Nonzero: only the bytes from HeldBefore() up to this offset (exclusive)
    // are asked for, and a reply must bring exactly those.
    virtual uint64_t RangeEnd() const { return 0; }
};

// How a fetch ended. error 0 with the sink's consent is success; otherwise
// error is the number to record. A reply text (an HTTP status line, an FTP
// reply) goes with TRANSFER_ERROR_EXTENDED.
struct FetchResult {
    uint32_t error = 0;
    std::string reply;
    uint32_t replyCode = 0;  // its number (HTTP status, FTP reply code)
    // The server's answer must not stand as the file (an error page).
    bool discardLocal = false;
    // The session lost its connection to the server on the way.
    bool connectionLost = false;
};

class CTransferSession {
public:
    virtual ~CTransferSession() = default;
    // Connects (FTP: and logs in). false: *error says why.
    virtual bool Open(const TransferEndpoint& endpoint, uint32_t* error) = 0;
    virtual void Close() = 0;
    // Opaque handle of the backend; null when closed.
    virtual void* Handle() const = 0;
    // The directory the server put the session in after login ("" when
    // the protocol has none).
    virtual std::string EntryDirectory() const { return ""; }
    // The size of a remote file (path relative to the entry directory).
    virtual FetchResult Size(const std::string& path, uint64_t* size) = 0;
    // Fetches the file at path into the sink. knownSize, when not unknown,
    // is the size to announce (the protocol reported it before).
    virtual FetchResult Fetch(const std::string& path, CDownloadSink& sink,
                              uint64_t knownSize = CDownloadSink::kUnknownSize) = 0;
    // Sends one command on the control connection (FTP "NOOP").
    virtual FetchResult Command(const std::string& command) = 0;
    // Connections opened by the last Fetch (0 when it reused one).
    virtual long LastNewConnections() const = 0;
    virtual void SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) = 0;
};

// The build's backend for a protocol; null when it cannot be made.
std::unique_ptr<CTransferSession> CreateTransferSession(TransferProtocol protocol);

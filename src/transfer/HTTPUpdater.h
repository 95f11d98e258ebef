// CHTTPUpdater: the HTTP transfer object. The backend session (libcurl in
// this build, see CCurlHttpSession) keeps the server connection open between
// requests, so a run's many files travel over one connection; Connect fails
// (custom error 2004) when the server cannot be reached at all.
//
// Time limits (a dead or silent server must not hang the worker):
//  - kConnectTimeoutSeconds: limit for opening a connection;
//  - a transfer slower than kLowSpeedLimitBytes per second for
//    kLowSpeedTimeSeconds fails (read failure, error 12002).
// SetTimeouts changes both for this object (tests).
//
// A suspended worker (plat::SuspendThread) is held inside the transfer,
// before the next 4 KiB block, with the connection kept; should the transfer
// break off after such a hold, the session asks for the rest of the file.
//
// A download succeeds only for a 2xx reply with a Content-Length; any other
// status fails with error 12003 whose reply line ("HTTP/1.1 404 Not Found")
// is the recorded message, and the local file is removed. A server that
// closes before the announced length ends as a read failure.
//
// Threads: all operations on the update worker thread, except
// Get/SetStopEvent (see CProtocolUpdaterBase).
#pragma once
#include <cstdint>

#include "transfer/DownloadLoop.h"
#include "transfer/ProtocolUpdaterBase.h"

class CHTTPUpdater : public CProtocolUpdaterBase {
public:
    static constexpr long kConnectTimeoutSeconds = 15;
    static constexpr long kLowSpeedLimitBytes = 1;
    static constexpr long kLowSpeedTimeSeconds = 30;
    // Largest block handed to the local file and reported by one
    // notification 6.
    static constexpr size_t kChunkSize = CDownloadLoop::kChunkSize;

    // tls: HTTPS (port 443 by default, the certificate checked).
    explicit CHTTPUpdater(bool tls = false);
    ~CHTTPUpdater() override;
    CHTTPUpdater(const CHTTPUpdater&) = delete;
    CHTTPUpdater& operator=(const CHTTPUpdater&) = delete;

    // 1 when the server accepts a TCP connection; state 1. 0 otherwise
    // (state 2; the last error says why).
    int Connect() override;
    void Disconnect() override { CloseSession(); }
    // The backend's handle (a CURL*); null when not connected.
    void* GetConnectHandle() override { return SessionHandle(); }
    void StopKeepAlive() override {}
    void StartKeepAlive() override {}
    void KeepAliveLoop() override {}

    // One range request; see CProtocolUpdater.
    int FetchRange(const char* remoteName, uint64_t offset, uint64_t length,
                   std::string* out) override;

    void SetTimeouts(long connectSeconds, long lowSpeedSeconds);
    // Connections the last download opened (0 when it reused one).
    long LastNewConnections() const;

protected:
    std::string RemotePath(const char* remoteName) const;
    // 1 when the whole file (or an empty one) arrived.
    int Download(const char* remoteName, const char* localPath, bool continuing) override;
};

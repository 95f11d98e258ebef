// CHTTPUpdater: the HTTP transfer object on libcurl.
//
// One libcurl easy handle lives from Connect to Disconnect; libcurl keeps
// the server connection open between requests (HTTP/1.1 keep-alive), so a
// run's many files travel over one connection. Every request is a GET that
// asks caches to revalidate ("Cache-Control: no-cache", "Pragma: no-cache").
//
// Connect opens and closes one probe connection, so that a dead server or a
// wrong address fails at Connect (custom error 2004) rather than at the
// first download.
//
// Time limits (a dead or silent server must not hang the worker):
//  - kConnectTimeoutSeconds: limit for opening a connection;
//  - a transfer slower than kLowSpeedLimitBytes per second for
//    kLowSpeedTimeSeconds fails (read failure, error 12002).
// SetTimeouts changes both for this object (tests).
//
// A suspended worker (plat::SuspendThread) is held inside the transfer,
// before the next 4 KiB block, with the connection kept; libcurl then reads
// nothing and runs no speed check. Should the transfer break off after such
// a hold (the server closed the idle connection, or the low-speed limit
// fired once it ran again), the download asks for the missing bytes with a
// range request (If-Range: the first reply's ETag or Last-Modified) and
// accepts only a 206 reply carrying exactly that rest.
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
#include <string>

#include "transfer/ProtocolUpdaterBase.h"

class CHTTPUpdater : public CProtocolUpdaterBase {
public:
    static constexpr long kConnectTimeoutSeconds = 15;
    static constexpr long kLowSpeedLimitBytes = 1;
    static constexpr long kLowSpeedTimeSeconds = 30;
    // Largest block handed to the local file and reported by one
    // notification 6.
    static constexpr size_t kChunkSize = 4096;

    CHTTPUpdater();
    ~CHTTPUpdater() override;
    CHTTPUpdater(const CHTTPUpdater&) = delete;
    CHTTPUpdater& operator=(const CHTTPUpdater&) = delete;

    // 1 when the server accepts a TCP connection; state 1. 0 otherwise
    // (state 2; the last error says why).
    int Connect() override;
    void Disconnect() override;
    // 1 when the whole file (or an empty one, see the notes above) arrived.
    int DownloadFile(const char* remoteName, const char* localPath) override;
    // The libcurl easy handle (CURL*); null when not connected.
    void* GetConnectHandle() override { return m_pCurl; }
    void StopKeepAlive() override {}
    void StartKeepAlive() override {}
    void KeepAliveLoop() override {}

    void SetTimeouts(long connectSeconds, long lowSpeedSeconds);
    // Connections libcurl opened for the last download (0 when it reused
    // the connection of an earlier one).
    long LastNewConnections() const { return m_nLastNewConnections; }

    struct Transfer;  // per-download state shared with libcurl's callbacks

private:
    // libcurl callbacks; userdata is the Transfer. They return fewer bytes
    // than given to abort the transfer.
    static size_t OnHeader(char* data, size_t size, size_t count, void* userdata);
    static size_t OnBody(char* data, size_t size, size_t count, void* userdata);
    bool AcceptReply(Transfer& t);
    // The reply to a continuation: the rest of the file, nothing else.
    bool AcceptRest(Transfer& t);
    // Prepares a request for the rest of a download that broke off after
    // the worker was held in it; false when the download is to end as is.
    bool RequestRestAfterPause(Transfer& t, int rc);
    // The fixed request headers plus If-Range, into t.restHeaders.
    bool MakeRestHeaders(Transfer& t);
    bool StoreChunk(Transfer& t, const char* data, size_t n);

    std::string BaseUrl() const;
    bool ProbeServer(uint32_t* error);
    bool SetUpHandle();
    int FinishDownload(Transfer& t, int rc, const char* localPath);
    void RecordConnectFailure(uint32_t error);

    void* m_pCurl = nullptr;     // CURL*
    void* m_pHeaders = nullptr;  // curl_slist* of the fixed request headers
    long m_nConnectTimeout = kConnectTimeoutSeconds;
    long m_nLowSpeedTime = kLowSpeedTimeSeconds;
    long m_nLastNewConnections = 0;
};

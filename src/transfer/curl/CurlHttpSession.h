// CCurlHttpSession: HTTP on one libcurl easy handle, which keeps the server
// connection open between requests (HTTP/1.1 keep-alive). Every request is a
// GET that asks caches to revalidate ("Cache-Control: no-cache",
// "Pragma: no-cache").
//
// Open connects and closes one probe connection, so that a dead server or a
// wrong address fails at Connect rather than at the first download.
//
// A fetch accepts only a 2xx reply with a Content-Length; any other status
// fails with TRANSFER_ERROR_EXTENDED and its status line as the reply, and the
// body is not the file (discardLocal).
//
// A worker held by a suspension inside a fetch reads nothing meanwhile; should
// the transfer break off after such a hold (the server closed the idle
// connection, or the low-speed limit fired once it ran again), the session
// asks for the missing bytes with a range request (If-Range: the first
// reply's ETag or Last-Modified) and accepts only a 206 reply carrying
// exactly that rest.
//
// A sink that holds the start of the file already (HeldBefore) gets only the
// rest: the request carries "Range: bytes=N-"; a 206 with exactly that rest
// appends, a 2xx other than 206 (the server ignores ranges) drops the held
// bytes and delivers the whole file, and any other reply fails as usual.
//
// An HTTPS session checks the server's certificate against the system's CA
// store (and the endpoint's CA file); redirects stay on HTTPS.
//
// Threads: one thread at a time (CTransferSession).
#pragma once
#include <string>

#include "transfer/TransferSession.h"

class CCurlHttpSession : public CTransferSession {
public:
    CCurlHttpSession();
    ~CCurlHttpSession() override;
    CCurlHttpSession(const CCurlHttpSession&) = delete;
    CCurlHttpSession& operator=(const CCurlHttpSession&) = delete;

    bool Open(const TransferEndpoint& endpoint, uint32_t* error) override;
    void Close() override;
    void* Handle() const override { return m_pCurl; }
    // Not asked of HTTP: the size comes with the reply.
    FetchResult Size(const std::string& path, uint64_t* size) override;
    FetchResult Fetch(const std::string& path, CDownloadSink& sink, uint64_t knownSize) override;
    FetchResult Command(const std::string& command) override;
    long LastNewConnections() const override { return m_nLastNewConnections; }
    void SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) override;

    struct Transfer;  // per-fetch state shared with libcurl's callbacks

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* userdata);
    static size_t OnBody(char* data, size_t size, size_t count, void* userdata);
    static bool AcceptReply(Transfer& t);
    // The reply to a continuation: the rest of the file, nothing else.
    static bool AcceptRest(Transfer& t);
    // The reply to a fetch that asked for the bytes after the held ones.
    static bool AcceptHeldRest(Transfer& t);
    const char* Scheme() const { return m_endpoint.tls ? "https" : "http"; }
    // Prepares a request for the rest of a fetch that broke off after the
    // worker was held in it; false when the fetch is to end as is.
    bool RequestRestAfterPause(Transfer& t, int rc);
    bool MakeRestHeaders(Transfer& t);
    FetchResult Result(const Transfer& t, int rc) const;
    std::string BaseUrl() const;
    bool ProbeServer(uint32_t* error);
    bool SetUpHandle();

    TransferEndpoint m_endpoint;
    void* m_pCurl = nullptr;     // CURL*
    void* m_pHeaders = nullptr;  // curl_slist* of the fixed request headers
    long m_nLastNewConnections = 0;
};

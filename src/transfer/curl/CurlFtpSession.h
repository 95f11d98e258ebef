// CCurlFtpSession: FTP on one libcurl easy handle, which keeps the control
// connection (logged in) between operations. Passive mode (EPSV, then PASV),
// binary transfers, and every path sent as it is given: relative to the
// login directory (libcurl's "no CWD" method, one command per file).
//
// Open logs in (so bad credentials fail there) and keeps the login
// directory the server reported (PWD). Size asks "SIZE" in binary mode;
// Fetch "RETR"s; Command sends one raw command (the keep-alive's "NOOP")
// on the kept control connection.
//
// A failure the server explains with a reply of its own ("550 ...", "421
// ...") is TRANSFER_ERROR_EXTENDED with that reply; a reply of 421 or a
// broken control connection marks the result connectionLost.
//
// Time limits: connectTimeout for the connection and login, replyTimeout for
// each control reply (libcurl would wait 120 s by default), and a transfer
// slower than 1 byte/s for lowSpeedTime fails.
//
// Threads: one thread at a time (CTransferSession).
#pragma once
#include <curl/curl.h>

#include <string>

#include "transfer/TransferSession.h"

class CCurlFtpSession : public CTransferSession {
public:
    CCurlFtpSession();
    ~CCurlFtpSession() override;
    CCurlFtpSession(const CCurlFtpSession&) = delete;
    CCurlFtpSession& operator=(const CCurlFtpSession&) = delete;

    bool Open(const TransferEndpoint& endpoint, uint32_t* error) override;
    void Close() override;
    void* Handle() const override { return m_pCurl; }
    std::string EntryDirectory() const override { return m_entryDirectory; }
    FetchResult Size(const std::string& path, uint64_t* size) override;
    FetchResult Fetch(const std::string& path, CDownloadSink& sink, uint64_t knownSize) override;
    FetchResult Command(const std::string& command) override;
    long LastNewConnections() const override { return m_nLastNewConnections; }
    void SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) override;

    struct Transfer;  // per-fetch state shared with libcurl's callbacks

private:
    static size_t OnReply(char* data, size_t size, size_t count, void* userdata);
    static size_t OnBody(char* data, size_t size, size_t count, void* userdata);
    static size_t Discard(char* data, size_t size, size_t count, void* userdata);
    // Runs the handle on path with or without a body; *rc is libcurl's result.
    FetchResult Perform(const std::string& path, bool body, int* rc);
    void ApplyTimeouts();
    CURLcode RunHandle();
    std::string Url(const std::string& path) const;

    TransferEndpoint m_endpoint;
    void* m_pCurl = nullptr;   // CURL*
    void* m_pMulti = nullptr;  // CURLM* running it, holder of the kept connection
    std::string m_entryDirectory;
    std::string m_lastReply;  // the last complete reply line of the server
    long m_nLastNewConnections = 0;
};

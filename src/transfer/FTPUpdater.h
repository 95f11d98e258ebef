// CFTPUpdater: the FTP transfer object. Connect logs in (passive mode, port
// 21 by default) and keeps the control connection; bad credentials fail
// there with custom error 2004. DownloadFile takes the server's login
// directory as the current directory, looks the file and its size up (SIZE,
// binary), opens it (up to kOpenAttempts attempts kOpenRetryMs apart; "open"
// lasts up to the file's first byte, and a file that never opens is removed)
// and reads it through CDownloadLoop. Sizes are 64-bit.
//
// A control connection the server closed while idle (a 421 reply, or a
// dropped connection) is reopened once by the next download.
//
// The keep-alive sends "NOOP" every kKeepAliveIntervalMs while the engine
// works locally (StartKeepAlive .. StopKeepAlive), on a thread of its own.
// The keep-alive and the downloads share the one connection: every use of it
// holds m_sessionLock, and a NOOP is skipped while a download holds it.
//
// Time limits (seconds): kConnectTimeoutSeconds to connect and log in,
// kReplyTimeoutSeconds for each control reply, and a transfer slower than 1
// byte/s for kLowSpeedTimeSeconds fails. SetTimeouts and
// SetKeepAliveInterval change them for this object (tests).
//
// Threads: the update worker thread, except Get/SetStopEvent (see
// CProtocolUpdaterBase) and the keep-alive thread, which uses the connection
// under m_sessionLock and ends itself through StopKeepAlive.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "transfer/DownloadLoop.h"
#include "transfer/ProtocolUpdaterBase.h"

class CFTPUpdater : public CProtocolUpdaterBase {
public:
    static constexpr const char* kDefaultHost = "patch.varn.invalid";
    static constexpr const char* kDefaultAccount = "varnpatch";  // user and password
    static constexpr unsigned kDefaultPort = 21;
    static constexpr int kOpenAttempts = 10;
    static constexpr uint32_t kOpenRetryMs = 100;
    static constexpr uint32_t kKeepAliveIntervalMs = 20000;
    static constexpr long kConnectTimeoutSeconds = 15;
    static constexpr long kReplyTimeoutSeconds = 30;
    static constexpr long kLowSpeedTimeSeconds = 30;

    CFTPUpdater();
    // Ends the keep-alive (joining its thread), then the connection.
    ~CFTPUpdater() override;
    CFTPUpdater(const CFTPUpdater&) = delete;
    CFTPUpdater& operator=(const CFTPUpdater&) = delete;

    // 1 when logged in (state 1); 0 otherwise (state 2, the last error says
    // why: custom error 2004).
    int Connect() override;
    void Disconnect() override;
    // The backend's handle (a CURL*); null when not connected.
    void* GetConnectHandle() override;
    // Starts the keep-alive thread unless one runs.
    void StartKeepAlive() override;
    // Ends the keep-alive: from the worker it signals, joins the thread and
    // closes the event; from the keep-alive thread itself it only signals.
    void StopKeepAlive() override;
    // The keep-alive thread's body (see above); returns once signalled.
    void KeepAliveLoop() override;

    void SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds);
    void SetKeepAliveInterval(uint32_t ms) { m_nKeepAliveIntervalMs = ms; }
    // True while a keep-alive thread exists (started and not yet joined).
    bool KeepAliveRunning();

protected:
    bool LogsSettings() const override { return false; }
    // 1 when the whole file (or an empty one) arrived. Continuing asks the
    // server to start after the held bytes (REST).
    int Download(const char* remoteName, const char* localPath, bool continuing) override;

private:
    // Looks the file up; a lost control connection is reopened once.
    FetchResult LookUp(const std::string& path, uint64_t* size);
    // Opens and reads the file into the loop, retrying the open.
    FetchResult OpenAndRead(const std::string& path, uint64_t size, CDownloadLoop& loop);
    // Joins an ended keep-alive thread; m_keepAliveLock held.
    void ReapKeepAliveLocked();

    std::mutex m_sessionLock;  // every use of m_pSession
    std::mutex m_keepAliveLock;
    plat::EventHandle m_hKeepAlive;
    plat::ThreadHandle m_keepAliveThread;
    uint32_t m_nKeepAliveIntervalMs = kKeepAliveIntervalMs;
};

// CLoginFrontClient: asks a login-front server whether the launcher and the
// game are current, so that a run can end before any download. One
// process-wide object, g_LoginFront.
//
// Threads: settings and flags are written by the window thread before a run;
// the login-front flag is read by the worker and may be cleared from the
// window thread at any time, hence atomic, as is the stop flag, which any
// thread may raise. ConnectLFServer runs on the worker.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/UpdaterBase.h"
#include "platform/Socket.h"

struct LoginFrontAnswer;

class CLoginFrontClient : public CUpdaterBase {
public:
    static constexpr int kMaxServers = 16;
    static constexpr int kDefaultPort = 44405;
    static constexpr const char* kDefaultHost = "lf.varn-online.jp";
    // A silent or unreachable server must not hold the launcher: connecting
    // (name resolution included) and reading the answer are bounded.
    static constexpr uint32_t kConnectTimeoutMs = 5000;
    static constexpr uint32_t kReceiveTimeoutMs = 10000;

    // Built-in table (entries 0 and 1), server count 16, flags as a fresh
    // launcher has them. The base directory is cleared: the local version
    // file is always found through the executable's directory.
    CLoginFrontClient();
    CLoginFrontClient(const CLoginFrontClient&) = delete;
    CLoginFrontClient& operator=(const CLoginFrontClient&) = delete;

    // Reads [SETUP] LOGINFRONTUSE / LOGINFRONTUSEDEFAULT and, when the
    // built-in table is not to be used, [LF SERVER] COUNT, IP%d, PORT%d.
    // With LOGINFRONTUSE present the query follows it (nonzero = on) unless
    // a switch turned it off (SetLoginFront(0)); without the key loading
    // switches the query off. Returns 1.
    int LoadSettings(const char* iniPath) override;

    // Asks one server of the table (chosen at random among the entries with
    // a host and a port) for the current versions and compares them with
    // the launcher's and the local version.uvf. 1 = launcher and game are
    // current (no update needed), 0 = anything else: query off, stopped, no
    // usable entry, connection or protocol failure, or an update needed.
    // Every outcome is in the update log only. Worker thread.
    int ConnectLFServer();
    // Judges a complete answer against the launcher version and the local
    // version.uvf; closes the socket first. 1 = current, 0 = update needed
    // or version.uvf unreadable.
    int CheckVersionInfo(plat::TcpSocket& socket, const LoginFrontAnswer& answer);
    // Connects to host:port within kConnectTimeoutMs; a closed socket (with
    // the failure logged) when that fails or a stop is requested.
    plat::TcpSocket OpenLFConnection(const char* host, int port);

    // A switch (SetConnectInfo without login-front, "-type t", "-nouself")
    // calls SetLoginFront(0): the query stays off, whatever a reloaded type
    // file says. SetLoginFront(1) is an explicit switch on and lifts that.
    void SetLoginFront(int on);
    int IsLoginFront() const { return m_nLoginFront.load(std::memory_order_relaxed); }
    // Ends a running query at its next wait slice and makes the next one
    // return 0 at once, until ClearStop (the start of a run). Any thread.
    void RequestStop() { m_nStop.store(1, std::memory_order_relaxed); }
    void ClearStop() { m_nStop.store(0, std::memory_order_relaxed); }
    // Ignored when null; the text is cut to 19 characters.
    void SetLauncherVersion(const char* version);
    const char* GetLauncherVersion() const { return m_szLauncherVersion; }
    // "-updateversion": sets the flag and keeps the text (cut to 19).
    void SetUpdateVersion(const char* version);
    int IsUpdateVersion() const { return m_nUpdateVersion; }
    const char* GetUpdateVersion() const { return m_szUpdateVersion; }
    void SetGetLast(int on) { m_nGetLast = on; }
    int IsGetLast() const { return m_nGetLast; }

    int GetServerCount() const { return m_nServerCount; }
    int IsUseDefault() const { return m_nUseDefault; }
    // Entry i of the server table; "" / 0 outside 0..15.
    const char* GetServerHost(int i) const;
    int GetServerPort(int i) const;

private:
    // Receives until the answer is complete, within kReceiveTimeoutMs;
    // 1/0 as ConnectLFServer. Closes the socket on every path.
    int ReadAnswer(plat::TcpSocket& socket);

    char m_szHost[kMaxServers][32];
    int m_nPort[kMaxServers];
    char m_szLauncherVersion[20];
    int m_nServerCount;
    int m_nUseDefault;
    std::atomic<int> m_nLoginFront;
    int m_nGetLast;
    int m_nUpdateVersion;
    char m_szUpdateVersion[20];
    int m_nSwitchedOff;  // a switch turned the query off: the type file may not
    std::atomic<int> m_nStop;
};

extern CLoginFrontClient g_LoginFront;

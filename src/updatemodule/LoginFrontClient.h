// CLoginFrontClient: asks a login-front server whether the launcher and the
// game are current, so that a run can end before any download. One
// process-wide object, g_LoginFront.
//
// Threads: settings and flags are written by the window thread before a run;
// the login-front flag is read by the worker and may be cleared from the
// window thread at any time, hence atomic. QueryVersion runs on the worker.
#pragma once
#include <atomic>

#include "base/UpdaterBase.h"

class CLoginFrontClient : public CUpdaterBase {
public:
    static constexpr int kMaxServers = 16;
    static constexpr int kDefaultPort = 44405;
    static constexpr const char* kDefaultHost = "lf.varn-online.jp";

    // Built-in table (entries 0 and 1), server count 16, flags as a fresh
    // launcher has them. The base directory is cleared: the local version
    // file is always found through the executable's directory.
    CLoginFrontClient();
    CLoginFrontClient(const CLoginFrontClient&) = delete;
    CLoginFrontClient& operator=(const CLoginFrontClient&) = delete;

    // Reads [SETUP] LOGINFRONTUSE / LOGINFRONTUSEDEFAULT and, when the
    // built-in table is not to be used, [LF SERVER] COUNT, IP%d, PORT%d.
    // Loading settings switches the query off. Returns 1.
    int LoadSettings(const char* iniPath) override;

    // 1 = launcher and game are current (no update needed), 0 = anything
    // else. The network query is not available yet: always 0, with a log
    // line saying so, and the run goes on with the version files.
    int QueryVersion();

    void SetLoginFront(int on) { m_nLoginFront.store(on, std::memory_order_relaxed); }
    int IsLoginFront() const { return m_nLoginFront.load(std::memory_order_relaxed); }
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
    char m_szHost[kMaxServers][32];
    int m_nPort[kMaxServers];
    char m_szLauncherVersion[20];
    int m_nServerCount;
    int m_nUseDefault;
    std::atomic<int> m_nLoginFront;
    int m_nGetLast;
    int m_nUpdateVersion;
    char m_szUpdateVersion[20];
};

extern CLoginFrontClient g_LoginFront;

// CProtocolUpdaterBase: the members and the operations that the HTTP and FTP
// transfer objects share (settings, remote directory choice, stop event,
// tree deletion, callback), the connection steps both protocols take, and
// the backend session (CTransferSession) that moves the bytes. The protocol
// classes add their remote paths, DownloadFile and the keep-alive; the rules
// of a download are CDownloadLoop's.
//
// Threads: everything runs on the update worker thread except
// GetStopEvent/SetStopEvent, which a stop request may call from another
// thread; the stop event member is guarded by a mutex for that.
#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "transfer/ProtocolUpdater.h"
#include "transfer/TransferSession.h"

class CProtocolUpdaterBase : public CProtocolUpdater {
public:
    CProtocolUpdaterBase();
    // Signals and closes an installed stop event so that nothing keeps
    // waiting on a transfer that no longer exists.
    ~CProtocolUpdaterBase() override;

    void SetConnectInfo(const char* host, int port, const char* user, const char* password,
                        const char* servicePath, const char* testPath,
                        unsigned char launcherType) override;
    // Deletes the tree through the platform layer; a missing path fails.
    int DeletePath(const char* path) override;
    void SetLauncherType(unsigned int type) override;
    void SetLauncherPath(const char* path) override;
    void SetResourceHandle(plat::ResourceHandle module) override { m_hResource = module; }
    int ConnectTo(const char* host, int port, const char* user, const char* password) override;
    plat::ResourceHandle GetResourceHandle() override { return m_hResource; }
    void SetStopEvent(plat::EventHandle stopEvent) override;
    plat::EventHandle GetStopEvent() override;
    void SetAddress(const char* host) override;
    void SetUserID(const char* user) override;
    void SetPassword(const char* password) override;
    void SetPort(int port) override { m_nPort = static_cast<unsigned>(port); }
    void SetCallBack(WindowHandle window, UPDATE_CALLBACK callback) override;
    void SetTransferOptions(const TransferOptions& options) override { m_options = options; }
    int ResumeFile(const char* remoteName, const char* localPath) override {
        return Download(remoteName, localPath, true);
    }
    int DownloadFile(const char* remoteName, const char* localPath) override {
        return Download(remoteName, localPath, false);
    }

    // Read access for the owner and tests.
    unsigned GetLauncherType() const { return m_nLauncherType; }
    const char* GetAddress() const { return m_szHost; }
    const char* GetUserID() const { return m_szUser; }
    const char* GetPassword() const { return m_szPassword; }
    unsigned GetPort() const { return m_nPort; }
    const char* GetDefaultPath() const { return m_szDefaultPath; }
    const char* GetServicePath() const { return m_szServicePath; }
    const char* GetTestPath() const { return m_szTestPath; }
    int GetConnectState() const { return m_nConnectState; }
    std::string RootText() const override;
    void CopyAccountTo(CProtocolUpdater& other) const override {
        other.SetUserID(m_szUser);
        other.SetPassword(m_szPassword);
    }

protected:
    friend class CDownloadLoop;

    // DownloadFile and ResumeFile of the protocol (continuing: ResumeFile).
    virtual int Download(const char* remoteName, const char* localPath, bool continuing) = 0;
    // Connect's steps for both protocols: logs, the default port, a session
    // of the build's backend, the failure record (custom error 2004, the
    // password masked in the log). httpAddressLine: log "HTTP Address".
    int ConnectSession(TransferProtocol protocol, unsigned defaultPort, const char* agent,
                       bool httpAddressLine);
    // Closes the session; state 2.
    void CloseSession();
    void* SessionHandle() const { return m_pSession ? m_pSession->Handle() : nullptr; }
    TransferEndpoint Endpoint() const;
    // True while the run may go on: a stop event is installed and neither
    // signalled nor closed. Takes a copy of the handle under the lock so the
    // zero-timeout wait never races a concurrent SetStopEvent. A suspended
    // worker is held here first (plat::RunCheckPoint, which sets *parked).
    bool StopEventClear(bool* parked = nullptr);
    // Whether SetConnectInfo/SetLauncherType/SetLauncherPath write log lines.
    virtual bool LogsSettings() const { return true; }
    // Records the thread's last platform error as a system error (kind 2).
    void RecordSystemError(uint32_t code);

    unsigned m_nLauncherType = LAUNCHER_TYPE_SERVICE;
    const char* m_pszScheme = "";  // of the last ConnectSession
    char m_szHost[100] = {};
    char m_szUser[100] = {};
    char m_szPassword[100] = {};
    unsigned m_nPort = 0;
    // Remote directory prefix of every remote path (hides the base class's
    // game directory of the same name, which a transfer object never uses).
    char m_szDefaultPath[260] = {};
    char m_szServicePath[260] = {};
    char m_szTestPath[260] = {};
    int m_nConnectState = CONNECT_STATE_DISCONNECTED;
    plat::ResourceHandle m_hResource = nullptr;
    std::unique_ptr<CTransferSession> m_pSession;
    // Time limits in seconds (TransferEndpoint).
    long m_nConnectTimeout = 15;
    long m_nLowSpeedTime = 30;
    long m_nReplyTimeout = 30;
    std::string m_agent;
    bool m_bTls = false;  // HTTPS
    TransferOptions m_options;

private:
    void RecordConnectFailure(uint32_t error);

    std::mutex m_stopLock;
    plat::EventHandle m_hStopEvent;
};

// Copies src (null = "") into a fixed buffer, cut and zero-terminated.
template <size_t N>
void CopyField(char (&dst)[N], const char* src) {
    size_t i = 0;
    for (; src && src[i] && i + 1 < N; ++i)
        dst[i] = src[i];
    dst[i] = '\0';
}

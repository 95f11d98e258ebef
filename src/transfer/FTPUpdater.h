// CFTPUpdater: the FTP transfer object. For now it holds the FTP defaults
// and the operations shared with HTTP; Connect and DownloadFile fail with a
// recorded error ("FTP is not available yet"), so a run configured for FTP
// ends as a connection failure instead of misbehaving.
//
// Threads: as CProtocolUpdaterBase.
#pragma once
#include "transfer/ProtocolUpdaterBase.h"

class CFTPUpdater : public CProtocolUpdaterBase {
public:
    static constexpr const char* kDefaultHost = "patch.varn.invalid";
    static constexpr const char* kDefaultAccount = "varnpatch";  // user and password
    static constexpr unsigned kDefaultPort = 21;

    CFTPUpdater();
    ~CFTPUpdater() override;

    // Always 0 for now: records custom error 2004 with the reason.
    int Connect() override;
    void Disconnect() override;
    // Always 0 for now (no connection can exist).
    int DownloadFile(const char* remoteName, const char* localPath) override;
    void* GetConnectHandle() override { return nullptr; }
    void StopKeepAlive() override {}
    void StartKeepAlive() override {}
    void KeepAliveLoop() override {}

protected:
    bool LogsSettings() const override { return false; }
};

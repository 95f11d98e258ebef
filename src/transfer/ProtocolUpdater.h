// CProtocolUpdater: the transfer interface the engine owns exactly one of
// (HTTP or FTP). Slot order is the interface's historical order. Every
// operation runs on the update worker thread, except that another thread may
// take the stop event (GetStopEvent), signal and close it to stop a run.
#pragma once
#include <cstdint>
#include <string>

#include "base/UpdateTypes.h"
#include "base/UpdaterBase.h"
#include "platform/Event.h"
#include "platform/Resource.h"
#include "transfer/TransferSession.h"

// Connection states.
enum : int {
    CONNECT_STATE_CONNECTING = 0,
    CONNECT_STATE_CONNECTED = 1,
    CONNECT_STATE_DISCONNECTED = 2,
};

class CProtocolUpdater : public CUpdaterBase {
public:
    ~CProtocolUpdater() override = default;
    // Copies the settings, then SetLauncherType(launcherType).
    virtual void SetConnectInfo(const char* host, int port, const char* user, const char* password,
                                const char* servicePath, const char* testPath,
                                unsigned char launcherType) = 0;
    // Deletes a local directory tree; 0 when it is missing or not removable.
    virtual int DeletePath(const char* path) = 0;
    virtual void SetLauncherType(unsigned int type) = 0;
    virtual void SetLauncherPath(const char* path) = 0;
    virtual void SetResourceHandle(plat::ResourceHandle module) = 0;
    virtual int ConnectTo(const char* host, int port, const char* user, const char* password) = 0;
    virtual int Connect() = 0;
    virtual plat::ResourceHandle GetResourceHandle() = 0;
    // Installs (or with an empty handle clears) the run's stop event.
    virtual void SetStopEvent(plat::EventHandle stopEvent) = 0;
    virtual plat::EventHandle GetStopEvent() = 0;
    virtual void Disconnect() = 0;
    // Fetches one remote file into localPath; 1 on success.
    virtual int DownloadFile(const char* remoteName, const char* localPath) = 0;
    virtual void SetAddress(const char* host) = 0;
    virtual void SetUserID(const char* user) = 0;
    virtual void SetPassword(const char* password) = 0;
    virtual void SetPort(int port) = 0;
    // Opaque connection handle; null when not connected.
    virtual void* GetConnectHandle() = 0;
    virtual void StopKeepAlive() = 0;
    virtual void StartKeepAlive() = 0;
    virtual void KeepAliveLoop() = 0;
    virtual void SetCallBack(WindowHandle window, UPDATE_CALLBACK callback) = 0;
    // Later additions, with defaults for transfer objects that have none.
    // Trust, proxy and rate settings for the connections made from now on.
    virtual void SetTransferOptions(const TransferOptions& options) {}
    // Like DownloadFile, but a local file that holds the start of the remote
    // one already is continued rather than fetched again; a server that
    // cannot continue it sends it whole. 1 on success.
    virtual int ResumeFile(const char* remoteName, const char* localPath) {
        return DownloadFile(remoteName, localPath);
    }
    // "scheme://host:port/path" of the root this object serves from, for
    // logs; "" when it cannot say.
    virtual std::string RootText() const { return ""; }
    // Gives other this object's user name and password.
    virtual void CopyAccountTo(CProtocolUpdater& other) const {}
    // Bytes [offset, offset + length) of a remote file into *out: 1 done,
    // 0 failed (last error recorded), -1 this server does not serve parts
    // of files (it answered with the whole file, or the protocol has no
    // ranges here): nothing recorded; fetch the file whole instead.
    virtual int FetchRange(const char* remoteName, uint64_t offset, uint64_t length,
                           std::string* out) {
        return -1;
    }
};

// A patch server root: where the published tree is, by which protocol.
struct PatchServerRoot {
    std::string host;
    int port = 0;  // 0: the protocol's default
    std::string path;
    TransferProtocol protocol = TransferProtocol::HTTP;
};

// Creates the transfer object for a protocol. The caller owns the result.
CProtocolUpdater* CreateProtocolUpdater(TransferProtocol protocol);

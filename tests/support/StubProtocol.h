// StubProtocol: a transfer object that does nothing, for engine tests to
// derive from, overriding only what they serve or observe. Connecting
// succeeds; downloads fail. The stop event is kept under a lock, since the
// engine may take it from another thread while a run installs a new one.
#pragma once
#include <mutex>
#include <utility>

#include "transfer/ProtocolUpdater.h"

namespace varntest {

class StubProtocol : public CProtocolUpdater {
public:
    void SetConnectInfo(const char*, int, const char*, const char*, const char*, const char*,
                        unsigned char) override {}
    int DeletePath(const char*) override { return 0; }
    void SetLauncherType(unsigned int) override {}
    void SetLauncherPath(const char*) override {}
    void SetResourceHandle(plat::ResourceHandle) override {}
    int ConnectTo(const char*, int, const char*, const char*) override { return 1; }
    int Connect() override { return 1; }
    plat::ResourceHandle GetResourceHandle() override { return {}; }
    void SetStopEvent(plat::EventHandle ev) override {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = std::move(ev);
    }
    plat::EventHandle GetStopEvent() override {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        return m_stop;
    }
    void Disconnect() override {}
    int DownloadFile(const char*, const char*) override { return 0; }
    void SetAddress(const char*) override {}
    void SetUserID(const char*) override {}
    void SetPassword(const char*) override {}
    void SetPort(int) override {}
    void* GetConnectHandle() override { return nullptr; }
    void StopKeepAlive() override {}
    void StartKeepAlive() override {}
    void KeepAliveLoop() override {}
    void SetCallBack(WindowHandle, UPDATE_CALLBACK) override {}

private:
    std::mutex m_stopMutex;
    plat::EventHandle m_stop;
};

}  // namespace varntest

// Shared fixtures of the engine's version tests: a private temporary
// directory and an engine whose transfer object the test supplies.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "engine/FileUpdater.h"

namespace varntest {

class VersionTempDir {
public:
    VersionTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "varn-version-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~VersionTempDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    VersionTempDir(const VersionTempDir&) = delete;
    VersionTempDir& operator=(const VersionTempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A transfer object that does only what the version checks need: connect
// and download results chosen by the test, a stop event kept under a lock
// (it is read from more than one thread), and a record of launcher types.
class FakeProtocol : public CProtocolUpdater {
public:
    int connectResult = 1;
    // Runs in place of a download; returns the download's result.
    std::function<int(const char* remote, const char* local)> onDownload;
    std::string lastRemote;
    int setLauncherTypeCalls = 0;
    unsigned lastLauncherType = 99;
    std::string launcherPath;
    bool yieldAfterGet = false;

    void SetConnectInfo(const char*, int, const char*, const char*, const char*, const char*,
                        unsigned char) override {}
    int DeletePath(const char*) override { return 0; }
    void SetLauncherType(unsigned int type) override {
        ++setLauncherTypeCalls;
        lastLauncherType = type;
    }
    void SetLauncherPath(const char* path) override { launcherPath = path; }
    void SetResourceHandle(plat::ResourceHandle) override {}
    int ConnectTo(const char*, int, const char*, const char*) override { return connectResult; }
    int Connect() override { return connectResult; }
    plat::ResourceHandle GetResourceHandle() override { return {}; }
    void SetStopEvent(plat::EventHandle ev) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = std::move(ev);
    }
    plat::EventHandle GetStopEvent() override {
        plat::EventHandle ev;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ev = m_stop;
        }
        // Widens the gap between reading the event and acting on it, where
        // an unguarded caller would race with another thread.
        if (yieldAfterGet)
            std::this_thread::yield();
        return ev;
    }
    void Disconnect() override {}
    int DownloadFile(const char* remote, const char* local) override {
        lastRemote = remote;
        return onDownload ? onDownload(remote, local) : 0;
    }
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
    std::mutex m_mutex;
    plat::EventHandle m_stop;
};

// The engine with its protected parts opened to the tests.
class TestFileUpdater : public CFileUpdater {
public:
    // Returns the fake, still owned by the engine.
    FakeProtocol* InstallFake() {
        auto fake = std::make_unique<FakeProtocol>();
        FakeProtocol* raw = fake.get();
        m_pProtocol = std::move(fake);
        return raw;
    }
    using CFileUpdater::InstallStopEvent;
    using CFileUpdater::m_szEndVersion;
    using CFileUpdater::m_szLocalUpdateName;
    using CFileUpdater::m_szManualArchive;
    using CFileUpdater::m_szManualHash;
    using CFileUpdater::m_szNewUpdateName;
    using CFileUpdater::m_szPrimaryVersion;
};

}  // namespace varntest

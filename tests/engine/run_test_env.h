// Fixtures of the patch-run tests: a private temporary game directory, a
// transfer object that serves a local directory as the patch server, and
// the engine with its protected steps opened to the tests.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace varntest {

class RunTempDir {
public:
    RunTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varn-run-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~RunTempDir() {
        std::error_code ec;
        // Read-only leftovers of a test must not keep the tree alive.
        for (auto& e : std::filesystem::recursive_directory_iterator(m_path, ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    RunTempDir(const RunTempDir&) = delete;
    RunTempDir& operator=(const RunTempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Serves files of a local directory: a download copies root/<remote> to the
// local path. A test may make a download fail (with the last error it would
// record) or run code first.
class ServedProtocol : public CProtocolUpdater {
public:
    explicit ServedProtocol(std::string root) : m_root(std::move(root)) {}

    std::map<std::string, int> downloads;  // remote name -> count
    int connects = 0;
    // Returns -1 to serve normally, 0 or 1 to end the download with that.
    std::function<int(const std::string& remote, const std::string& local)> before;

    int DownloadFile(const char* remote, const char* local) override {
        ++downloads[remote];
        if (before) {
            const int forced = before(remote, local);
            if (forced >= 0)
                return forced;
        }
        if (plat::CopyFile(plat::JoinPath(m_root, remote), local, false))
            return 1;
        SetLastErrorMsg(ERROR_KIND_CUSTOM, 404, "not served", 0);
        return 0;
    }
    int Connect() override {
        ++connects;
        return 1;
    }
    int DeletePath(const char* path) override { return plat::DeleteTree(path) ? 1 : 0; }
    void SetStopEvent(plat::EventHandle ev) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = std::move(ev);
    }
    plat::EventHandle GetStopEvent() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stop;
    }
    void SetConnectInfo(const char*, int, const char*, const char*, const char*, const char*,
                        unsigned char) override {}
    void SetLauncherType(unsigned int) override {}
    void SetLauncherPath(const char*) override {}
    void SetResourceHandle(plat::ResourceHandle) override {}
    int ConnectTo(const char*, int, const char*, const char*) override { return 1; }
    plat::ResourceHandle GetResourceHandle() override { return nullptr; }
    void Disconnect() override {}
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
    std::string m_root;
    std::mutex m_mutex;
    plat::EventHandle m_stop;
};

class RunEngine : public CFileUpdater {
public:
    ServedProtocol* Serve(const std::string& root) {
        auto p = std::make_unique<ServedProtocol>(root);
        ServedProtocol* raw = p.get();
        m_pProtocol = std::move(p);
        return raw;
    }
    void SetKind(int kind) { m_nUpdateKind = kind; }
    void SetBaseName(const char* name) { CopyText(m_szUpdateFileName, 260, name); }
    void SetLocal(const char* version, const char* minor = "") {
        CopyText(m_szLocalVersion, 20, version);
        CopyText(m_szLocalMinorVersion, 20, minor);
    }
    void SetLatest(const char* latest, const char* newMinor = "", const char* name = "Varn") {
        CopyText(m_szLatestVersion, 20, latest);
        CopyText(m_szNewMinorVersion, 20, newMinor);
        CopyText(m_szNewUpdateName, 30, name);
    }
    bool NamedNewArchive() const { return m_bArchiveNamed; }
    using CFileUpdater::InstallStopEvent;
    using CFileUpdater::ReleaseStopEvent;
    using CFileUpdater::StartClosingTicker;
    using CFileUpdater::StopClosingTicker;
    using CFileUpdater::StopSignalled;
};

// Notifications seen by the plain callback, in order, with the record's
// file name and counters at that moment.
struct Seen {
    int code;
    std::string name;
    int index;
    uint64_t total;
};

inline std::vector<Seen>& SeenNotifications() {
    static std::vector<Seen> seen;
    return seen;
}

inline std::mutex& SeenLock() {
    static std::mutex lock;
    return lock;
}

inline void RecordingCallback(int32_t code, UPDATE_CALLBACK_INFO* info) {
    std::lock_guard<std::mutex> hold(SeenLock());
    SeenNotifications().push_back({code, info->szFileName, info->nFileIndex, info->nTotalReceived});
}

inline std::vector<int> SeenCodes() {
    std::lock_guard<std::mutex> hold(SeenLock());
    std::vector<int> codes;
    for (const Seen& s : SeenNotifications())
        codes.push_back(s.code);
    return codes;
}

}  // namespace varntest

// Engine test fixtures: a local directory served as the patch server, the
// engine with its protected steps opened, and a notification recorder.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/StubProtocol.h"
#include "support/TempDir.h"

namespace varntest {

constexpr auto ReadText = &TempDir::ReadFile;
constexpr auto WriteText = &TempDir::WriteFile;

// Serves files of a local directory: a download copies root/<remote> to the
// local path. `before` may end a download first (returning 0 or 1) after
// recording the error a failed transfer would; -1 serves normally.
class ServedProtocol : public StubProtocol {
public:
    explicit ServedProtocol(std::string root) : m_root(std::move(root)) {}

    std::map<std::string, int> downloads;  // remote name -> count
    int connects = 0;
    std::function<int(const std::string& remote)> before;

    int DownloadFile(const char* remote, const char* local) override {
        ++downloads[remote];
        const int forced = before ? before(remote) : -1;
        if (forced >= 0)
            return forced;
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

private:
    std::string m_root;
};

class RunEngine : public CFileUpdater {
public:
    ServedProtocol* Serve(const std::string& root) {
        m_pProtocol = std::make_unique<ServedProtocol>(root);
        return static_cast<ServedProtocol*>(m_pProtocol.get());
    }
    void SetKind(int kind) { m_nUpdateKind = kind; }
    void SetBaseName(const char* name) { CopyText(m_szUpdateFileName, 260, name); }
    void SetLocal(const char* version) { CopyText(m_szLocalVersion, 20, version); }
    void SetLatest(const char* latest, const char* newMinor) {
        CopyText(m_szLatestVersion, 20, latest);
        CopyText(m_szNewMinorVersion, 20, newMinor);
        CopyText(m_szNewUpdateName, 30, "Varn");
    }
    using CFileUpdater::InstallStopEvent;
};

// Notifications seen by RecordingCallback, in order, with the record's file
// name and counters at that moment.
struct Seen {
    int code;
    std::string name;
    int index;
    uint64_t total;
};

inline std::mutex& SeenLock() {
    static std::mutex lock;
    return lock;
}
inline std::vector<Seen>& SeenNotifications() {
    static std::vector<Seen> seen;
    return seen;
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

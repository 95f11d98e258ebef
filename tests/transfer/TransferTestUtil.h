// Helpers of the transfer tests: a private temporary directory, a recorder
// of the progress notifications, and the engine's way to stop a download.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "transfer/ProtocolUpdater.h"
#include "updatemodule/UpdaterBase.h"

namespace transfertest {

class TempDir {
public:
    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "varn-transfer-XXXXXX").string();
        m_path = mkdtemp(t.data()) ? t : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Deterministic content whose every 4096-byte block differs.
inline std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

struct Note {
    int code;
    std::string fileName;
    uint64_t fileSize, fileReceived, lastRead, totalReceived;
};

// Records every notification; optionally runs an action on one of them.
class Recorder {
public:
    Recorder() {
        CUpdaterBase::ResetSharedStateForTests();
        s_self = this;
        CUpdaterBase::SetCallBack(nullptr, &Recorder::Callback);
    }
    ~Recorder() {
        CUpdaterBase::SetCallBack(nullptr, nullptr);
        s_self = nullptr;
    }
    std::vector<int> Codes() const {
        std::vector<int> c;
        for (const auto& n : notes)
            c.push_back(n.code);
        return c;
    }
    int Count(int code) const {
        int k = 0;
        for (const auto& n : notes)
            k += n.code == code;
        return k;
    }
    std::vector<Note> notes;
    std::function<void(const Note&)> onNote;

private:
    static void Callback(int32_t code, UPDATE_CALLBACK_INFO* info) {
        Note n{code,
               info->szFileName,
               info->nFileSize,
               info->nFileReceived,
               info->nLastRead,
               info->nTotalReceived};
        s_self->notes.push_back(n);
        if (s_self->onNote)
            s_self->onNote(n);
    }
    static inline Recorder* s_self = nullptr;
};

// The engine's per-file stop event.
inline void InstallStopEvent(CProtocolUpdater& u) {
    u.SetStopEvent(plat::CreateEvent(true, false));
}

// The engine's stop request: take the event, signal, close, clear.
inline void RequestStop(CProtocolUpdater& u) {
    plat::EventHandle ev = u.GetStopEvent();
    plat::SetEvent(ev);
    plat::CloseEvent(ev);
    u.SetStopEvent(nullptr);
}

}  // namespace transfertest

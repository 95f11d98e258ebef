// Transfer test helpers: content, a notification recorder, the engine's stop.
#pragma once
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/UpdaterBase.h"
#include "platform/Event.h"
#include "support/TempDir.h"
#include "transfer/ProtocolUpdater.h"

namespace transfertest {

using varntest::TempDir;
inline constexpr auto ReadFile = &TempDir::ReadFile;
inline constexpr auto WriteFile = &TempDir::WriteFile;

inline std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : s)
        c = static_cast<char>(x ^= x << 13, x ^= x >> 17, x ^= x << 5);
    return s;
}

struct Note {
    int code;
    std::string fileName;
    uint64_t fileSize, fileReceived, lastRead, totalReceived;
};

class Recorder {
public:
    Recorder() {
        CUpdaterBase::ResetSharedStateForTests();
        s_self = this;
        CUpdaterBase::SetCallBack(nullptr, [](int32_t code, UPDATE_CALLBACK_INFO* i) {
            Note n{code,         i->szFileName,    i->nFileSize, i->nFileReceived,
                   i->nLastRead, i->nTotalReceived};
            s_self->notes.push_back(n);
            if (s_self->onNote)
                s_self->onNote(n);
        });
    }
    ~Recorder() { CUpdaterBase::SetCallBack(nullptr, nullptr); }
    std::vector<int> Codes() const {
        std::vector<int> c;
        for (const auto& n : notes)
            c.push_back(n.code);
        return c;
    }
    int Count(int code) const { return static_cast<int>(std::ranges::count(Codes(), code)); }
    std::vector<Note> notes;
    std::function<void(const Note&)> onNote;

private:
    static inline Recorder* s_self = nullptr;
};

inline void InstallStopEvent(CProtocolUpdater& u) {
    u.SetStopEvent(plat::CreateEvent(true, false));
}

inline void RequestStop(CProtocolUpdater& u) {
    plat::EventHandle ev = u.GetStopEvent();
    plat::SetEvent(ev);
    plat::CloseEvent(ev);
    u.SetStopEvent(nullptr);
}

}  // namespace transfertest

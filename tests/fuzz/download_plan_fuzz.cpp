// Plans downloads from an arbitrary versionlist.uvf for each kind of update
// and walks the archive names the loop would ask for.
#include <cstdint>
#include <string>

#include "../support/TempDir.h"
#include "engine/FileUpdater.h"

namespace {

class PlanEngine : public CFileUpdater {
public:
    void Set(int kind, const char* local) {
        m_nUpdateKind = kind;
        CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), local);
        CopyText(m_szLatestVersion, sizeof(m_szLatestVersion), "1.0.0.9");
        CopyText(m_szNewUpdateName, sizeof(m_szNewUpdateName), "Varn");
        CopyText(m_szNewMinorVersion, sizeof(m_szNewMinorVersion), "0.1");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const varntest::TempDir dir({.enter = true, .prefix = "varn-planfuzz"});
    static PlanEngine* engine = [] {
        auto* e = new PlanEngine;
        e->SetUpdatePath(dir.path().c_str());
        return e;
    }();
    varntest::TempDir::WriteFile(dir / "Update/versionlist.uvf",
                                 std::string(reinterpret_cast<const char*>(data), size));
    for (int kind : {UPDATE_MINOR_VERSION, UPDATE_MAJOR_VERSION, UPDATE_FULL_VERSION}) {
        for (int allow : {0, 1}) {
            engine->Set(kind, "1.0.0.1");
            engine->SetFullVersionDownload(allow);
            UPDATE_CALLBACK_INFO info{};
            uint64_t bytes = 0;
            int count = 0;
            engine->GetVersionFileInformation(&info, "1.0.0.1", &bytes, &count);
            // The loop names one archive per step; each names a newer entry,
            // so a list of n versions can name at most n.
            for (int step = 0; step < 64 && engine->SetFtpVersionFileName() == 1; ++step) {
                const std::string name = engine->ArchiveBaseName();
                const size_t to = name.find("_to_");
                if (to == std::string::npos)
                    break;
                engine->Set(UPDATE_MAJOR_VERSION, name.substr(to + 4).c_str());
            }
        }
    }
    return 0;
}

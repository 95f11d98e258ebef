// Feeds arbitrary bytes to the profile reader (in memory and from a file)
// and checks that writing one key leaves every other value readable as it
// was.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/File.h"
#include "platform/Profile.h"

namespace {

// The C-string entry points cannot name a section or key holding a NUL.
bool HasNul(const std::string& s) {
    return s.find('\0') != std::string::npos;
}

const std::string& ScratchFile() {
    static const std::string path = [] {
        char templ[] = "/tmp/varn-profile-fuzz-XXXXXX";
        const char* dir = mkdtemp(templ);
        if (dir == nullptr) {
            std::abort();
        }
        return std::string(dir) + "/fuzz.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    plat::ProfileText profile(text);
    const std::string& path = ScratchFile();
    if (!plat::WriteWholeFile(path, text.data(), text.size())) {
        return 0;
    }

    std::vector<std::string> sections = profile.Sections();
    if (sections.size() > 8) {
        sections.resize(8);
    }
    char buf[64];
    for (const auto& s : sections) {
        for (const auto& k : profile.Keys(s)) {
            if (HasNul(s) || HasNul(k)) {
                continue;
            }
            unsigned n = plat::GetPrivateProfileString(s.c_str(), k.c_str(), "", buf, sizeof buf,
                                                       path.c_str());
            const std::string* v = profile.Find(s, k);
            if (v == nullptr || n >= sizeof buf || v->compare(0, n, buf, n) != 0) {
                std::abort();
            }
            plat::GetPrivateProfileInt(s.c_str(), k.c_str(), 0, path.c_str());
        }
    }
    plat::GetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, path.c_str());

    if (!plat::WritePrivateProfileString("FuzzSec", "FuzzKey", "fuzz value", path.c_str())) {
        return 0;
    }
    std::string after;
    if (!plat::ReadWholeFile(path, after)) {
        std::abort();
    }
    plat::ProfileText rewritten(after);
    const std::string* mine = rewritten.Find("FuzzSec", "FuzzKey");
    if (mine == nullptr || *mine != "fuzz value") {
        std::abort();
    }
    for (const auto& s : sections) {
        for (const auto& k : profile.Keys(s)) {
            if (rewritten.Find("fuzzsec", "fuzzkey") == rewritten.Find(s, k)) {
                continue;
            }
            const std::string* v = rewritten.Find(s, k);
            if (v == nullptr || *v != *profile.Find(s, k)) {
                std::abort();
            }
        }
    }
    return 0;
}

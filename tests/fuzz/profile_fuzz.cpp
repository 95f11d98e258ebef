// Feeds arbitrary bytes to the profile reader (in memory and from a file)
// and checks that writing one key leaves every other value readable as it
// was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "../support/TempDir.h"
#include "platform/File.h"
#include "platform/Profile.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const varntest::TempDir dir({.prefix = "varn-profile-fuzz"});
    const std::string path = dir / "fuzz.ini";
    const std::string text(reinterpret_cast<const char*>(data), size);
    const plat::ProfileText profile(text);
    if (!plat::WriteWholeFile(path, text.data(), text.size()))
        return 0;
    // The C-string entry points cannot name a section or key holding a NUL.
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& s : profile.Sections()) {
        for (const auto& k : profile.Keys(s)) {
            if (keys.size() < 64 && (s + k).find('\0') == std::string::npos)
                keys.emplace_back(s, k);
        }
    }
    char buf[64];
    for (const auto& [s, k] : keys) {
        unsigned n =
            plat::GetPrivateProfileString(s.c_str(), k.c_str(), "", buf, sizeof buf, path.c_str());
        const std::string* v = profile.Find(s, k);
        Check(v != nullptr && n < sizeof buf && v->compare(0, n, buf, n) == 0);
        plat::GetPrivateProfileInt(s.c_str(), k.c_str(), 0, path.c_str());
    }
    plat::GetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, path.c_str());

    if (!plat::WritePrivateProfileString("FuzzSec", "FuzzKey", "fuzz value", path.c_str()))
        return 0;
    std::string after;
    Check(plat::ReadWholeFile(path, after));
    const plat::ProfileText rewritten(after);
    const std::string* mine = rewritten.Find("FuzzSec", "FuzzKey");
    Check(mine != nullptr && *mine == "fuzz value");
    for (const auto& [s, k] : keys) {
        const std::string* v = rewritten.Find(s, k);
        Check(v == mine || (v != nullptr && *v == *profile.Find(s, k)));
    }
    return 0;
}

#include "host/VersionIni.h"

#include <cctype>

#include "platform/Path.h"
#include "platform/Profile.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsPlainUrl(const std::string& url) {
    for (unsigned char c : url) {
        if (c <= ' ' || c == 0x7F) {
            return false;
        }
    }
    return !UrlHost(url).empty();
}

std::string ReadUrl(const std::string& ini, const char* key, const char* def) {
    const std::string value = plat::GetProfileString("URL", key, "", ini);
    return IsPlainUrl(value) ? value : def;
}

}  // namespace

std::string VersionIniPath() {
    return plat::JoinPath(plat::GetModuleDir(), "version.ini");
}

PatchRoot ReadPatchRoot(const std::string& versionIni) {
    char value[260] = "";
    plat::GetPrivateProfileString("PATH", "PatchRoot", "", value, sizeof(value),
                                  versionIni.c_str());
    return ParsePatchRoot(value);
}

DeploymentUrls ReadDeploymentUrls(const std::string& versionIni) {
    return {ReadUrl(versionIni, "HomePage", kDefaultHomePage),
            ReadUrl(versionIni, "FAQ", kDefaultFaqPage)};
}

std::string UrlHost(const std::string& url) {
    const std::string lower = Lower(url);
    size_t start = 0;
    if (lower.rfind("https://", 0) == 0) {
        start = 8;
    } else if (lower.rfind("http://", 0) == 0) {
        start = 7;
    } else {
        return "";
    }
    std::string authority = lower.substr(start, lower.find_first_of("/?#", start) - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    const size_t colon =
        authority.find(':', authority.rfind(']') == std::string::npos ? 0 : authority.rfind(']'));
    return authority.substr(0, colon);
}

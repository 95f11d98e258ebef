#include "host/TransferSettings.h"

#include <cstdio>

#include "platform/Path.h"
#include "platform/Profile.h"
#include "updatemodule/UpdateModule.h"

namespace {

constexpr int kMaxMirrors = 9;
constexpr uint64_t kMaxRate = 1ull << 53;

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

PatchServerRoot ToServerRoot(const PatchRoot& root) {
    PatchServerRoot r;
    r.host = root.host;
    r.port = root.port;
    r.path = root.path;
    r.protocol = root.useFtp ? TransferProtocol::FTP
                 : root.tls  ? TransferProtocol::HTTPS
                             : TransferProtocol::HTTP;
    return r;
}

}  // namespace

bool ParseRate(const std::string& text, uint64_t* bytesPerSecond) {
    std::string digits = Trim(text);
    uint64_t unit = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k'))
        unit = 1024;
    else if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm'))
        unit = 1024 * 1024;
    if (unit != 1)
        digits.pop_back();
    if (digits.empty() || digits.size() > 16 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const uint64_t value = std::stoull(digits);
    if (value > kMaxRate / unit)
        return false;
    *bytesPerSecond = value * unit;
    return true;
}

TransferSettings ReadTransferSettings(const std::string& versionIni, const std::string& configIni,
                                      const std::string& gameDir) {
    TransferSettings s;
    for (int i = 1; i <= kMaxMirrors; ++i) {
        const std::string key = "PatchRoot" + std::to_string(i);
        const std::string value = Trim(plat::GetProfileString("PATH", key.c_str(), "", versionIni));
        PatchRoot root = ParsePatchRoot(value);
        // A root without a host could only be a path on no server.
        if (!root.host.empty())
            s.mirrors.push_back(root);
    }
    s.proxy = Trim(plat::GetProfileString("PATH", "Proxy", "", versionIni));
    s.caFile = Trim(plat::GetProfileString("PATH", "CAFile", "", versionIni));
    if (!s.caFile.empty() && s.caFile[0] != '/')
        s.caFile = plat::JoinPath(gameDir, s.caFile);
    uint64_t rate = 0;
    if (ParseRate(plat::GetProfileString("COMMON", "MaxDownloadRate", "", configIni), &rate) ||
        ParseRate(plat::GetProfileString("PATH", "MaxDownloadRate", "", versionIni), &rate))
        s.maxRate = rate;
    return s;
}

void ApplyTransferSettings(CUpdateModule& module, const PatchRoot& root,
                           const TransferSettings& settings) {
    TransferOptions options;
    options.proxy = settings.proxy;
    options.caFile = settings.caFile;
    options.maxBytesPerSecond = settings.maxRate;
    std::vector<PatchServerRoot> mirrors;
    for (const PatchRoot& m : settings.mirrors)
        mirrors.push_back(ToServerRoot(m));
    module.SetTransferSettings(ToServerRoot(root), std::move(mirrors), options);
}

std::string FormatRate(uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0)
        return "";
    char text[48];
    if (bytesPerSecond >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else if (bytesPerSecond >= 1024)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%llu B/s",
                      static_cast<unsigned long long>(bytesPerSecond));
    return text;
}

std::string StatusWithRateCap(const std::string& status, uint64_t maxRate) {
    const std::string rate = FormatRate(maxRate);
    return rate.empty() || status.empty() ? status : status + " (max " + rate + ")";
}

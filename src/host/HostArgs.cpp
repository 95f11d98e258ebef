#include "host/HostArgs.h"

#include <cstdlib>
#include <cstring>

#include "host/TransferSettings.h"
#include "updatemodule/UpdateModule.h"

namespace {

// The launcher cuts its connection values to its 100-character fields.
constexpr size_t kMaxValue = 99;

}  // namespace

OwnOptions ReadOwnOptions(const std::vector<std::string>& args) {
    OwnOptions own;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        switch (CUpdateModule::OptionKindOf(word)) {
            case CUpdateModule::OPTION_REST:
                return own;
            case CUpdateModule::OPTION_VALUE:
                ++i;
                continue;
            case CUpdateModule::OPTION_FLAG:
                continue;
            case CUpdateModule::OPTION_NONE:
                break;
        }
        if (word == "--help" || word == "-h") {
            own.help = true;
            return own;
        }
        if (word == "--verify" || word == "--repair") {
            (word == "--verify" ? own.verify : own.repair) = true;
            continue;
        }
        constexpr const char* kMaxRate = "--max-rate=";
        if (word.rfind(kMaxRate, 0) == 0 &&
            ParseRate(word.substr(std::strlen(kMaxRate)), &own.maxRate)) {
            continue;
        }
        if (word.rfind("--", 0) == 0) {
            own.unknown = word;
            return own;
        }
    }
    return own;
}

std::string PatchServerName(const PatchRoot& root, const std::vector<std::string>& words) {
    std::string host = root.host;
    int port = root.port;
    for (size_t i = 0; i < words.size(); ++i) {
        const CUpdateModule::OptionKind kind = CUpdateModule::OptionKindOf(words[i]);
        if (kind == CUpdateModule::OPTION_REST ||
            (kind == CUpdateModule::OPTION_VALUE && i + 1 == words.size())) {
            break;  // the launcher reads no further option either
        }
        if (kind != CUpdateModule::OPTION_VALUE) {
            continue;
        }
        const std::string value = words[i + 1].substr(0, kMaxValue);
        if (words[i] == "-ip") {
            host = value;
        } else if (words[i] == "-port") {
            port = std::atoi(value.c_str());
        }
        ++i;
    }
    if (host.empty()) {
        return "";
    }
    // "-port 0" (or a word that is no number) leaves the transfer on its
    // protocol's own port.
    if (port == 0) {
        port = root.useFtp ? 21 : root.tls ? 443 : 80;
    }
    const bool bareIpv6 = host.find(':') != std::string::npos && host[0] != '[';
    return (bareIpv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

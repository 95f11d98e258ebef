#include "host/PatchRoot.h"

#include <cstdlib>

namespace {

// Splits "host:port" when the part after the last colon is a port. An
// unbracketed address with several colons (IPv6) has no port of its own.
void TakePort(PatchRoot& root) {
    const std::string& h = root.host;
    const size_t colon = h.rfind(':');
    if (colon == std::string::npos) {
        return;
    }
    const bool bracketed = !h.empty() && h[0] == '[';
    if (bracketed ? h.find(']') > colon : h.find(':') != colon) {
        return;
    }
    const std::string digits = h.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return;
    }
    const int port = std::atoi(digits.c_str());
    if (port < 1 || port > 65535) {
        return;
    }
    root.port = port;
    root.host = h.substr(0, colon);
}

}  // namespace

PatchRoot ParsePatchRoot(const std::string& value) {
    PatchRoot root;
    root.path = value;
    if (value.size() <= 7) {
        return root;
    }
    std::string rest;
    if (value.find("http://") != std::string::npos) {
        root.port = 80;
        root.useFtp = 0;
        rest = value.substr(7);
    } else if (value.rfind("https://", 0) == 0) {
        root.port = 443;
        root.useFtp = 0;
        root.tls = true;
        rest = value.substr(8);
    } else {
        rest = value.substr(6);
    }
    const size_t slash = rest.find('/');
    root.host = rest.substr(0, slash);
    root.path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    TakePort(root);
    return root;
}

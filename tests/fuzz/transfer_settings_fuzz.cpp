// Patch roots (PatchRoot and its mirrors) and rates as version.ini,
// config.ini and the command line give them: any text parses without
// fault, and what parses is consistent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/HostArgs.h"
#include "host/PatchRoot.h"
#include "host/TransferSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const PatchRoot root = ParsePatchRoot(text);
    if (root.port < 1 || root.port > 65535 || (root.tls && root.useFtp))
        std::abort();
    PatchServerName(root, {"-ip", text});
    uint64_t rate = 0;
    if (ParseRate(text, &rate) && rate > (1ull << 53))
        std::abort();
    ReadOwnOptions({"--max-rate=" + text});
    return 0;
}

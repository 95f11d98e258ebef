// Feeds arbitrary bytes as a Windows image file: reading the headers, the
// Wine mark and the fixed version record must stay within the bytes given,
// however the offsets and sizes inside them lie.
#include <cstdint>
#include <cstdlib>

#include "updatemodule/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CPeMemorySource source(data, size);
    CPeImage image;
    const bool opened = image.Open(source);
    uint64_t version = 0;
    const bool found = image.FixedFileVersion(version);
    // Nothing is known of a file that is not an image.
    if (!opened && (found || image.Is64() || image.IsWineBuiltin()))
        std::abort();
    return 0;
}

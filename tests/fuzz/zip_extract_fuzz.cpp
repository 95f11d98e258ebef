// Arbitrary bytes as a patch archive: extraction must fail or succeed
// cleanly and never write beside its output directory.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "ZipFuzzSandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zipfuzz::Sandbox box;
    std::ofstream(box.archive, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    zipfuzz::Extract(box);
    box.CheckAndClean();
    return 0;
}

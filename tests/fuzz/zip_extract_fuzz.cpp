// Arbitrary bytes as a patch archive: extraction must fail or succeed
// cleanly and never write beside its output directory.
#include <string>

#include "ZipFuzzSandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zipfuzz::Sandbox box;
    varntest::TempDir::WriteFile(box.archive,
                                 std::string(reinterpret_cast<const char*>(data), size));
    zipfuzz::Extract(box);
    box.CheckAndClean();
    return 0;
}

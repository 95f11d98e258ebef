// Feeds arbitrary reply header lines (split after '\n') to the reply reader.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/HttpReplyHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CHttpReplyHeader h;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const size_t n = std::min(rest.find('\n'), rest.size() - 1) + 1;
        h.Feed(rest.data(), n);
        rest.remove_prefix(n);
    }
    return 0;
}

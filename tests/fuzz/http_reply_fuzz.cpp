// Feeds arbitrary reply header lines (split at '\n') to the reply reader.
#include <cstddef>
#include <cstdint>

#include "transfer/HttpReplyHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CHttpReplyHeader h;
    const char* p = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || p[i] == '\n') {
            size_t end = i < size ? i + 1 : i;
            h.Feed(p + start, end - start);
            start = end;
        }
    }
    (void)h.Status();
    (void)h.HasLength();
    return 0;
}

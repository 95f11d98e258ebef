#include "transfer/LastResponse.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace transfer {
namespace {

std::mutex g_responseLock;
uint32_t g_responseNumber = 0;
std::string g_responseText;

}  // namespace

void SetLastResponse(uint32_t number, const std::string& text) {
    std::lock_guard<std::mutex> lock(g_responseLock);
    g_responseNumber = number;
    g_responseText = text;
}

bool LastResponseHook(uint32_t* extendedError, char* buf, size_t size) {
    std::lock_guard<std::mutex> lock(g_responseLock);
    if (g_responseText.empty() || size == 0)
        return false;
    if (extendedError)
        *extendedError = g_responseNumber;
    size_t n = std::min(size - 1, g_responseText.size());
    std::memcpy(buf, g_responseText.data(), n);
    buf[n] = '\0';
    return true;
}

}  // namespace transfer

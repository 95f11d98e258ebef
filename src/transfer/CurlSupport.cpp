#include "transfer/CurlSupport.h"

#include <cstring>
#include <mutex>

#include "platform/Win32Types.h"

namespace transfer {
namespace {

std::mutex g_responseLock;
uint32_t g_responseNumber = 0;
std::string g_responseText;

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

uint32_t ErrorFromCurl(CURLcode rc) {
    switch (rc) {
        case CURLE_OK:
            return plat::ERROR_SUCCESS_CODE;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrorInternetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrorInternetTimeout;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return kErrorInternetConnectionAborted;
        case CURLE_SEND_ERROR:
            return kErrorInternetConnectionReset;
        case CURLE_URL_MALFORMAT:
            return kErrorInternetInvalidUrl;
        case CURLE_TOO_MANY_REDIRECTS:
            return kErrorHttpRedirectFailed;
        // The URL is always http://, so this means a reply that is not HTTP.
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
            return kErrorHttpInvalidServerResponse;
        case CURLE_OUT_OF_MEMORY:
            return plat::ERROR_NOT_ENOUGH_MEMORY_CODE;
        default:
            return kErrorInternetInternal;
    }
}

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

std::string EscapePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if (c == '/' || IsUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace transfer

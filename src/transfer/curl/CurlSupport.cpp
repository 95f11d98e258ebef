#include "transfer/curl/CurlSupport.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Win32Types.h"

namespace transfer {
namespace {

// Read sizes under a rate cap: a 256th of a second's bytes, within these.
constexpr uint64_t kCappedBufferMin = 4 * 1024;
constexpr uint64_t kCappedBufferMax = 128 * 1024;

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
            return TRANSFER_ERROR_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return TRANSFER_ERROR_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return TRANSFER_ERROR_TIMEOUT;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return TRANSFER_ERROR_CONNECTION_ABORTED;
        case CURLE_SEND_ERROR:
            return TRANSFER_ERROR_CONNECTION_RESET;
        case CURLE_LOGIN_DENIED:
            return TRANSFER_ERROR_LOGIN_FAILURE;
        case CURLE_URL_MALFORMAT:
            return TRANSFER_ERROR_INVALID_URL;
        case CURLE_TOO_MANY_REDIRECTS:
            return TRANSFER_ERROR_REDIRECT_FAILED;
        // The URL's scheme is always the session's own, so this means a
        // reply in another protocol.
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
            return TRANSFER_ERROR_INVALID_SERVER_RESPONSE;
        case CURLE_PEER_FAILED_VERIFICATION:
            return TRANSFER_ERROR_INVALID_CA;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return TRANSFER_ERROR_SECURE_FAILURE;
        case CURLE_OUT_OF_MEMORY:
            return plat::ERROR_NOT_ENOUGH_MEMORY_CODE;
        default:
            return TRANSFER_ERROR_INTERNAL;
    }
}

bool ConnectionLost(CURLcode rc) {
    return rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR || rc == CURLE_GOT_NOTHING ||
           rc == CURLE_SEND_ERROR || rc == CURLE_WEIRD_SERVER_REPLY;
}

void ApplyOptions(CURL* c, const TransferEndpoint& endpoint) {
    const TransferOptions& o = endpoint.options;
    // A publisher's own authority; libcurl takes it in place of its default
    // bundle (the system's certificate directory still counts).
    if (!o.caFile.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, o.caFile.c_str());
    // Unset, libcurl reads the proxy environment variables itself.
    if (!o.proxy.empty())
        curl_easy_setopt(c, CURLOPT_PROXY, o.proxy.c_str());
    if (o.maxBytesPerSecond > 0) {
        curl_easy_setopt(c, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(o.maxBytesPerSecond));
        // libcurl judges the rate between turns of its loop, and one turn
        // reads up to about a hundred buffers: small ones keep a fast link
        // from running far ahead of the cap.
        const uint64_t buffer =
            std::clamp(o.maxBytesPerSecond / 256, kCappedBufferMin, kCappedBufferMax);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(buffer));
    }
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

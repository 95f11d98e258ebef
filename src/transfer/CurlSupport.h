// Helpers shared by the libcurl-based transfer classes: one-time library
// set-up, the mapping of libcurl results onto the error numbers the update
// logic records, and the last server response that a recorded 12003 error
// reports.
#pragma once
#include <curl/curl.h>

#include <cstdint>
#include <string>

namespace transfer {

// Error numbers in the transfer library's numbering that the update logic
// records and the platform knows texts for.
constexpr uint32_t kErrorInternetTimeout = 12002;
constexpr uint32_t kErrorInternetExtended = 12003;
constexpr uint32_t kErrorInternetInternal = 12004;
constexpr uint32_t kErrorInternetInvalidUrl = 12005;
constexpr uint32_t kErrorInternetNameNotResolved = 12007;
constexpr uint32_t kErrorInternetCannotConnect = 12029;
constexpr uint32_t kErrorInternetConnectionAborted = 12030;
constexpr uint32_t kErrorInternetConnectionReset = 12031;
constexpr uint32_t kErrorHttpHeaderNotFound = 12150;
constexpr uint32_t kErrorHttpInvalidServerResponse = 12152;
constexpr uint32_t kErrorHttpRedirectFailed = 12156;

// curl_global_init exactly once per process; safe from any thread.
void EnsureCurlInitialised();

// The error number recorded for a failed libcurl call.
uint32_t ErrorFromCurl(CURLcode rc);

// Remembers the last server reply line (and its number, e.g. the HTTP
// status) for the next recorded 12003 error. Thread-safe.
void SetLastResponse(uint32_t number, const std::string& text);
// The CUpdaterBase response-text hook: copies the remembered reply.
bool LastResponseHook(uint32_t* extendedError, char* buf, size_t size);

// Percent-escapes each "/"-separated segment of a remote path, keeping the
// separators, so that blanks and odd characters survive in the URL.
std::string EscapePath(const std::string& path);

}  // namespace transfer

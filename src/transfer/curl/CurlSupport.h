// Helpers of the libcurl backend and the transfer classes: one-time library
// set-up, the mapping of libcurl results onto the error numbers the update
// logic records, and URL paths.
#pragma once
#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "base/TransferErrors.h"
#include "transfer/TransferSession.h"

namespace transfer {

// curl_global_init exactly once per process; safe from any thread.
void EnsureCurlInitialised();

// The error number recorded for a failed libcurl call.
uint32_t ErrorFromCurl(CURLcode rc);
// Whether a libcurl result means the connection broke (rather than the
// server refusing or the request being wrong).
bool ConnectionLost(CURLcode rc);

// Applies an endpoint's TLS trust, proxy and rate settings to a handle.
void ApplyOptions(CURL* c, const TransferEndpoint& endpoint);

// Percent-escapes each "/"-separated segment of a remote path, keeping the
// separators, so that blanks and odd characters survive in the URL.
std::string EscapePath(const std::string& path);

}  // namespace transfer

// The last reply a server gave that explains a failure, for the next
// recorded TRANSFER_ERROR_EXTENDED (the last-error record asks for it
// through CUpdaterBase's response-text hook). Thread-safe.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace transfer {

// Remembers the reply line and its number (HTTP status, FTP reply code).
void SetLastResponse(uint32_t number, const std::string& text);
// The CUpdaterBase response-text hook: copies the remembered reply.
bool LastResponseHook(uint32_t* extendedError, char* buf, size_t size);

}  // namespace transfer

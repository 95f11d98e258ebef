// Thread-local "last error" in Win32 numbering, as the update logic expects
// from GetLastError/SetLastError, and the FormatMessage-like text of a code.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Returns the calling thread's last error code (Win32 numbering).
uint32_t GetLastError();
// Sets the calling thread's last error code.
void SetLastError(uint32_t code);
// Maps an errno value onto the Win32 code the callers test (ENOENT -> 2,
// ENOTDIR -> 3, EACCES/EPERM/EROFS -> 5, EBUSY/ETXTBSY -> 32, EEXIST -> 183,
// ENOSPC -> 112, ENAMETOOLONG -> 206, ...). Unknown values map to 31.
uint32_t Win32FromErrno(int err);
// Sets the thread's last error from errno (or the given errno value).
void SetLastErrorFromErrno();
void SetLastErrorFromErrno(int err);
// The system text for a Win32 code, without a trailing newline, e.g.
// "The system cannot find the file specified." for 2. Never empty.
std::string FormatMessageText(uint32_t code);

}  // namespace plat

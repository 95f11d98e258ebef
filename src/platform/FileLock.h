// Advisory whole-file locks and durable flushing for files opened through
// stdio. The lock stands in for Win32 share modes: a file that another
// handle holds exclusively cannot be taken, and the failure is reported as
// the sharing violation (32) the callers test for.
#pragma once
#include <cstdio>

namespace plat {

// Takes a lock on an open file without waiting: exclusive for writers,
// shared for readers. Locks belong to the open file, so two handles on the
// same file in one process exclude each other as two processes do. False
// with last error 32 when someone else holds a conflicting lock.
bool TryLockFile(std::FILE* file, bool exclusive);
// Flushes the stream's buffer and asks the system to put the file's data on
// the disk, so that writes made before it are durable before any made after.
// False (last error set) on failure.
bool FlushFile(std::FILE* file);

}  // namespace plat

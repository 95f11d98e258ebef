// File and directory operations with Win32-style results: functions return
// true on success; on failure they return false and set the thread's last
// error (Error.h) to the Win32 code.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

bool FileExists(const std::string& path);  // file or directory
bool IsDirectory(const std::string& path);
// A regular file itself: false for a directory, a device, or a symbolic
// link (even one that leads to a regular file).
bool IsRegularFile(const std::string& path);
// Size of a regular file; false (last error 2) when missing.
bool GetFileSize(const std::string& path, uint64_t& size);
// Copies src over dst. With failIfExists an existing dst fails with 80/183.
// A read-only dst (no write permission) fails with 5; a missing src with 2;
// a missing target directory with 3. Writes to a temporary name beside dst
// and renames it into place, so dst is never left half written.
bool CopyFile(const std::string& src, const std::string& dst, bool failIfExists);
// Puts src's bytes at dst, replacing it, for a src that is not needed
// afterwards: renamed when both lie on one file system, copied otherwise
// (src may then remain). keepSource always copies. Unlike CopyFile the new
// file is not flushed to the disk: SyncFileSystems does that for a whole
// batch. Fails as CopyFile does (read-only or directory dst: 5, missing src:
// 2, missing target directory: 3); dst is never left half written.
bool PlaceFile(const std::string& src, const std::string& dst, bool keepSource);
// Flushes to the disk everything written so far on the file systems that
// hold the given paths, one flush per file system however many paths lie
// on it; a missing path is skipped, and one that cannot be opened makes
// every file system flush. False (last error set) when a file system
// reports that data could not be written.
bool SyncFileSystems(const std::vector<std::string>& paths);
bool DeleteFile(const std::string& path);
bool MoveFile(const std::string& src, const std::string& dst);  // rename, replacing
// Creates one directory; an existing one fails with 183.
bool CreateDirectory(const std::string& path);
// Creates every missing directory of the chain; an existing one is fine.
bool CreateDirectoryChain(const std::string& path);
bool RemoveDirectory(const std::string& path);  // must be empty
// Deletes a directory tree. A missing path fails with 2 (or 3).
bool DeleteTree(const std::string& path);
// Read-only attribute, mapped onto the owner's write permission.
bool IsReadOnly(const std::string& path);
bool SetReadOnly(const std::string& path, bool readOnly);
// Lets whoever may read the file also execute it (chmod +x for the read
// bits); false with the last error.
bool SetExecutable(const std::string& path);
// Sets a file's modification time (seconds since the epoch, local clock).
bool SetFileTime(const std::string& path, int64_t unixSeconds);
// Reads a whole file; false (last error set) on failure.
bool ReadWholeFile(const std::string& path, std::string& out);
// Creates or truncates a file and writes all bytes; false on failure.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);
// Replaces path with the bytes at once: they are written to a temporary
// file beside it, flushed to the disk and renamed over it, so readers see
// the old file or the new one, never a part. The new file keeps the old
// one's permission bits (0644 for a new file). On failure (last error
// set) the old file is left as it was and no temporary remains.
bool ReplaceFileContents(const std::string& path, const void* data, size_t size);

// The entry of dir named `name` without regard to ASCII letter case, as
// dir/<its own spelling>: the exact spelling when it exists, else the first
// match in byte order. JoinPath(dir, name) when nothing matches or dir
// cannot be listed, so the result is also where to create the entry.
// (Files shared with a Windows program may be spelt either way.)
std::string FindNameNoCase(const std::string& dir, const std::string& name);

// Positions an open stream at a 64-bit offset from its start; false (last
// error set) when the offset cannot be reached.
bool SeekStream(std::FILE* f, uint64_t offset);
// The length of an open stream (which is left at its end); false (last error
// set) when it cannot be told.
bool StreamLength(std::FILE* f, uint64_t& size);

}  // namespace plat

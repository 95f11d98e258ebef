// File and directory operations reporting Win32 error codes.
#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Error.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"

namespace plat {
namespace {

bool Fail() {
    SetLastErrorFromErrno();
    return false;
}

bool FailWith(uint32_t code) {
    SetLastError(code);
    return false;
}

// A missing file whose directory is missing too is "path not found" on
// Win32; callers distinguish the two cases.
uint32_t MissingCode(const std::string& path) {
    std::string dir = DirName(path);
    if (!dir.empty() && !IsDirectory(dir)) {
        return ERROR_PATH_NOT_FOUND_CODE;
    }
    return ERROR_FILE_NOT_FOUND_CODE;
}

bool FailErrnoPath(const std::string& path) {
    if (errno == ENOENT) {
        return FailWith(MissingCode(path));
    }
    return Fail();
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyFdByReading(int in, int out) {
    std::vector<char> buf(64 * 1024);
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            return false;
        }
    }
}

// Copies the rest of in (of `size` bytes in all) to out. The kernel copies
// without a trip through user space, and clones where the file system can;
// where it cannot copy between these two files at all (older kernels across
// file systems, some file systems) the bytes are read and written here,
// from wherever the kernel stopped.
bool CopyFd(int in, int out, uint64_t size) {
    uint64_t copied = 0;
    while (copied < size) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, size - copied, 0);
        if (n > 0) {
            copied += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // 0 before the end: a file system that reports nothing copied
        // rather than an error; the file may also have shrunk meanwhile.
        if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
            errno == EBADF) {
            break;
        }
        return false;
    }
    return CopyFdByReading(in, out);
}

// Creates a uniquely named temporary file beside target; returns its fd.
int CreateTempBeside(const std::string& target, std::string& tempPath, mode_t mode) {
    std::string templ = JoinPath(DirName(target).empty() ? "." : DirName(target),
                                 "." + BaseName(target) + ".tmpXXXXXX");
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd >= 0) {
        tempPath = buf.data();
        fchmod(fd, mode);
    }
    return fd;
}

bool CopyIntoTemp(int in, const struct stat& srcSt, const std::string& dst, bool flush,
                  std::string& tmp) {
    int out = CreateTempBeside(dst, tmp, srcSt.st_mode & 07777);
    if (out < 0) {
        return FailErrnoPath(dst);
    }
    bool ok =
        CopyFd(in, out, static_cast<uint64_t>(srcSt.st_size)) && (!flush || fdatasync(out) == 0);
    int savedErrno = errno;
    if (close(out) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        SetLastErrorFromErrno(savedErrno);
    }
    return ok;
}

// A target the copy may not replace, as on Win32: a directory, or a file
// without write permission (read-only). The rename would ignore both.
bool TargetRefused(const struct stat& dstSt) {
    return S_ISDIR(dstSt.st_mode) || (dstSt.st_mode & S_IWUSR) == 0;
}

// CopyFile, with or without flushing the new file to the disk before it
// takes the target's name.
bool CopyFileFlushed(const std::string& src, const std::string& dst, bool failIfExists,
                     bool flush) {
    int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return FailErrnoPath(src);
    }
    struct stat srcSt;
    if (fstat(in, &srcSt) != 0 || !S_ISREG(srcSt.st_mode)) {
        close(in);
        return FailWith(ERROR_ACCESS_DENIED_CODE);
    }
    struct stat dstSt;
    if (stat(dst.c_str(), &dstSt) == 0) {
        if (failIfExists) {
            close(in);
            return FailWith(ERROR_FILE_EXISTS_CODE);
        }
        if (TargetRefused(dstSt)) {
            close(in);
            return FailWith(ERROR_ACCESS_DENIED_CODE);
        }
    }
    std::string tmp;
    bool ok = CopyIntoTemp(in, srcSt, dst, flush, tmp);
    close(in);
    if (!ok) {
        return false;
    }
    // The no-replace rename closes the gap between the existence check and
    // the rename: a target created meanwhile is not overwritten.
    int rc = failIfExists
                 ? renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE)
                 : rename(tmp.c_str(), dst.c_str());
    if (rc != 0 && failIfExists && errno == EINVAL) {
        // File systems without the no-replace rename: a hard link fails on
        // an existing name just the same.
        rc = link(tmp.c_str(), dst.c_str());
    }
    if (rc != 0) {
        int err = errno;
        unlink(tmp.c_str());
        return FailWith(err == EEXIST ? ERROR_FILE_EXISTS_CODE : Win32FromErrno(err));
    }
    if (failIfExists && FileExists(tmp)) {
        unlink(tmp.c_str());  // the hard-link fallback leaves the temporary name
    }
    return true;
}

bool RemoveEntry(const std::string& path);

bool RemoveChildren(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return Fail();
    }
    bool ok = true;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (!RemoveEntry(JoinPath(dir, name))) {
            ok = false;
        }
    }
    closedir(d);
    return ok;
}

bool RemoveEntry(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return Fail();
    }
    // Symbolic links are removed, never followed: a link inside the tree
    // must not make us delete files outside it.
    if (S_ISDIR(st.st_mode)) {
        if (!RemoveChildren(path)) {
            return false;
        }
        return rmdir(path.c_str()) == 0 || Fail();
    }
    return unlink(path.c_str()) == 0 || Fail();
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool GetFileSize(const std::string& path, uint64_t& size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return FailErrnoPath(path);
    }
    if (!S_ISREG(st.st_mode)) {
        return FailWith(ERROR_ACCESS_DENIED_CODE);
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool CopyFile(const std::string& src, const std::string& dst, bool failIfExists) {
    return CopyFileFlushed(src, dst, failIfExists, true);
}

bool PlaceFile(const std::string& src, const std::string& dst, bool keepSource) {
    struct stat srcSt;
    struct stat dstSt;
    const bool regular = lstat(src.c_str(), &srcSt) == 0 && S_ISREG(srcSt.st_mode);
    if (!keepSource && regular) {
        if (stat(dst.c_str(), &dstSt) == 0 && TargetRefused(dstSt)) {
            return FailWith(ERROR_ACCESS_DENIED_CODE);
        }
        if (rename(src.c_str(), dst.c_str()) == 0) {
            return true;
        }
        if (errno == ENOENT) {
            return FailErrnoPath(dst);  // src was there: the target's directory is not
        }
        // Another file system, or a rename refused for some other reason:
        // the copy below can still do it, or reports why not.
    }
    return CopyFileFlushed(src, dst, false, false);
}

bool SyncFileSystems(const std::vector<std::string>& paths) {
    std::vector<dev_t> synced;
    for (const std::string& path : paths) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 && errno != ENOENT) {
            // A path we may not open (no read permission) still holds what
            // was written: flush every file system rather than none.
            sync();
            return true;
        }
        if (fd < 0) {
            continue;  // nothing was left there to flush
        }
        struct stat st;
        bool ok = fstat(fd, &st) == 0;
        if (ok && std::find(synced.begin(), synced.end(), st.st_dev) == synced.end()) {
            ok = syncfs(fd) == 0;
            synced.push_back(st.st_dev);
        }
        const int err = errno;
        close(fd);
        if (!ok) {
            SetLastErrorFromErrno(err);
            return false;
        }
    }
    return true;
}

bool DeleteFile(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return FailErrnoPath(path);
    }
    if (S_ISDIR(st.st_mode)) {
        return FailWith(ERROR_ACCESS_DENIED_CODE);
    }
    return unlink(path.c_str()) == 0 || Fail();
}

bool MoveFile(const std::string& src, const std::string& dst) {
    if (rename(src.c_str(), dst.c_str()) == 0) {
        return true;
    }
    // The private temporary directory is often on another file system than
    // the game; a file moved from there is copied and then removed.
    if (errno == EXDEV && !IsDirectory(src)) {
        return CopyFile(src, dst, false) && DeleteFile(src);
    }
    if (errno == ENOENT) {
        struct stat st;
        return FailWith(lstat(src.c_str(), &st) != 0 ? MissingCode(src) : MissingCode(dst));
    }
    return Fail();
}

bool CreateDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) != 0) {
        return FailErrnoPath(path);
    }
    return true;
}

bool CreateDirectoryChain(const std::string& path) {
    if (path.empty()) {
        return FailWith(ERROR_INVALID_PARAMETER_CODE);
    }
    if (IsDirectory(path)) {
        return true;
    }
    std::string parent = DirName(path);
    if (!parent.empty() && parent != path && !CreateDirectoryChain(parent)) {
        return false;
    }
    if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(path))) {
        return Fail();
    }
    return true;
}

bool RemoveDirectory(const std::string& path) {
    if (rmdir(path.c_str()) != 0) {
        return FailErrnoPath(path);
    }
    return true;
}

bool DeleteTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return FailErrnoPath(path);
    }
    return RemoveEntry(path);
}

bool IsReadOnly(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool SetExecutable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return Fail();
    }
    const mode_t mode = st.st_mode & 07777;
    return chmod(path.c_str(), mode | ((mode & 0444) >> 2)) == 0 || Fail();
}

bool SetReadOnly(const std::string& path, bool readOnly) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return FailErrnoPath(path);
    }
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(path.c_str(), mode) == 0 || Fail();
}

bool SetFileTime(const std::string& path, int64_t unixSeconds) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        return FailErrnoPath(path);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FailErrnoPath(path);
    }
    std::string data;
    char buf[64 * 1024];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            int err = errno;
            close(fd);
            // Reading a directory gives EISDIR, which maps to 5 as on Win32.
            SetLastErrorFromErrno(err);
            return false;
        }
        if (n == 0) {
            break;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    out.swap(data);
    return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return FailErrnoPath(path);
    }
    bool ok = WriteAll(fd, static_cast<const char*>(data), size);
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        SetLastErrorFromErrno(err);
    }
    return ok;
}

bool ReplaceFileContents(const std::string& path, const void* data, size_t size) {
    struct stat st;
    const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    std::string tmp;
    int fd = CreateTempBeside(path, tmp, mode);
    if (fd < 0) {
        return FailErrnoPath(path);
    }
    // Flushed before the rename: after a crash the name holds the old
    // bytes or the new ones, not an empty file.
    bool ok = WriteAll(fd, static_cast<const char*>(data), size) && fdatasync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        SetLastErrorFromErrno(err);
    }
    return ok;
}

std::string FindNameNoCase(const std::string& dir, const std::string& name) {
    const std::string exact = JoinPath(dir, name);
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) {
        return exact;
    }
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) {
        return exact;
    }
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    std::vector<std::string> matches;
    while (dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        if (entry.size() == name.size() &&
            std::equal(entry.begin(), entry.end(), name.begin(), [&](char a, char b) {
                return lower(static_cast<unsigned char>(a)) == lower(static_cast<unsigned char>(b));
            })) {
            matches.push_back(entry);
        }
    }
    closedir(d);
    if (matches.empty()) {
        return exact;
    }
    return JoinPath(dir, *std::min_element(matches.begin(), matches.end()));
}

bool SeekStream(std::FILE* f, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

bool StreamLength(std::FILE* f, uint64_t& size) {
    if (fseeko(f, 0, SEEK_END) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    const off_t end = ftello(f);
    if (end < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    size = static_cast<uint64_t>(end);
    return true;
}

}  // namespace plat

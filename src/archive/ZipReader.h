// CZipReader: the zip layer under ExtractFile. Reads one archive by entry
// index and inflates entries (stored and deflated) straight to files in
// 64 KiB chunks, so no entry is held whole in memory.
//
// Every operation returns 0 or one of the ZIP_ERR_* codes; the codes are the
// keys of the message table of CZipExtractor::FormatZipError.
//
// Threads: one object belongs to one thread.
#pragma once
#include <cstdint>
#include <string>

enum : uint32_t {
    ZIP_OK = 0,
    ZIP_ERR_NO_FILE = 0x00000200,  // an output file or directory cannot be made
    ZIP_ERR_NO_ALLOC = 0x00000300,
    ZIP_ERR_WRITE = 0x00000400,        // writing the output or inflating failed
    ZIP_ERR_NOT_FOUND = 0x00000500,    // no entry with that index
    ZIP_ERR_CORRUPT = 0x00000700,      // bad headers, data or CRC; unsupported entry
    ZIP_ERR_READ = 0x00000800,         // the archive cannot be read
    ZIP_ERR_UNSAFE_NAME = 0x00000900,  // absolute or climbing entry name: refused
    ZIP_ERR_ARGS = 0x00010000,         // also: no archive open
    ZIP_ERR_FLATE = 0x05000000,        // internal error of the inflate code
};

// Windows directory attribute bit, as the entry attributes carry it.
constexpr uint32_t ZIP_ATTR_DIRECTORY = 0x10;

struct ZIP_ENTRY_INFO {
    int32_t index = 0;         // the entry's index; for index -1 the entry count
    char name[260] = {};       // path inside the archive as stored ("/" or "\")
    uint32_t attributes = 0;   // Windows attributes; ZIP_ATTR_DIRECTORY for directories
    int64_t modifiedTime = 0;  // seconds since the epoch (stored as local time)
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    // Permission bits of an entry made on a Unix system, 0 for any other.
    uint32_t unixMode = 0;
};

class CZipReader {
public:
    CZipReader() = default;
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Opens an archive; rootDir is the directory entries are created below.
    // False when the file is missing or not a zip archive.
    bool Open(const std::string& archivePath, const std::string& rootDir);
    void Close();
    bool IsOpen() const { return m_zip != nullptr || m_bEmpty; }

    // Index -1: info.index = number of entries. Otherwise the entry's
    // description. Names that do not fit 260 characters or hold a NUL byte
    // are ZIP_ERR_UNSAFE_NAME (the name field is then cut, for the message).
    uint32_t GetEntry(int index, ZIP_ENTRY_INFO& info);
    // Extracts entry index to targetPath, which must lie below the root.
    // Directory entries create the directory; file entries create the parent
    // directories, write to a temporary name beside the target and rename it
    // into place, so a failure never leaves a partial file under the real
    // name, and set the modification time. An entry recorded as executable
    // is unpacked executable.
    uint32_t Extract(int index, const std::string& targetPath);

private:
    uint32_t Seek(int index);
    uint32_t ExtractDirectory(const std::string& targetPath);
    uint32_t ExtractRegular(const ZIP_ENTRY_INFO& info, const std::string& targetPath);
    uint32_t InflateTo(const std::string& tempPath);
    bool IsBelowRoot(const std::string& path) const;

    void* m_zip = nullptr;  // minizip handle
    bool m_bEmpty = false;  // an archive without entries (no handle)
    std::string m_root;     // canonical root directory
    int m_current = -1;     // index of minizip's current entry, -1 none
};

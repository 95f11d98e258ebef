// CZipDirectory: reads a zip archive from pieces rather than from a whole
// file: the end record and central directory from the archive's last
// bytes, then single entries from their local header on. Lets a repair
// fetch only the parts of a remote archive it needs. Zip64 archives are
// not read (the publisher never writes them).
//
// Threads: pure functions.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ZipDirEntry {
    std::string name;  // as stored, "/"-separated
    uint64_t localOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint16_t method = 0;  // 0 stored, 8 deflated
    uint32_t crc = 0;
    uint16_t nameLength = 0;
};

class CZipDirectory {
public:
    // The end record is at most this far from the end (record + comment).
    static constexpr uint64_t kTailSize = 22 + 65535;
    static constexpr uint64_t kLocalHeaderSize = 30;

    // Finds the end record in tail, the archive's last bytes (of an archive
    // of fileSize bytes). false when there is none or it does not fit.
    static bool FindDirectory(const std::string& tail, uint64_t fileSize, uint64_t* dirOffset,
                              uint64_t* dirSize);
    // Parses a whole central directory. false when it is malformed.
    static bool ParseDirectory(const std::string& dir, std::vector<ZipDirEntry>* entries);
    // Offset of the entry's data from its local header, read from the
    // header's first 30 bytes; false when they are no local header.
    static bool DataOffset(const std::string& header, uint64_t* offset);
    // The entry's content from its compressed bytes (stored or deflated),
    // checked against the directory's size and CRC. false otherwise.
    static bool Unpack(const std::string& compressed, const ZipDirEntry& entry,
                       std::string* content);
};

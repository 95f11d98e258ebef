#include "archive/ZipDirectory.h"

#include <zlib.h>

#include <cstring>

namespace {

uint32_t U32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

uint16_t U16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                                 (static_cast<uint8_t>(s[at + 1]) << 8));
}

bool Inflate(const std::string& in, uint64_t size, std::string* out) {
    out->assign(size, '\0');
    if (size == 0)
        return true;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out->data());
    z.avail_out = static_cast<uInt>(size);
    const int rc = inflate(&z, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return ok;
}

}  // namespace

bool CZipDirectory::FindDirectory(const std::string& tail, uint64_t fileSize, uint64_t* dirOffset,
                                  uint64_t* dirSize) {
    if (tail.size() < 22 || tail.size() > fileSize)
        return false;
    const uint64_t tailStart = fileSize - tail.size();
    for (size_t at = tail.size() - 22;; --at) {
        if (U32(tail, at) == 0x06054b50 && at + 22 + U16(tail, at + 20) == tail.size()) {
            *dirSize = U32(tail, at + 12);
            *dirOffset = U32(tail, at + 16);
            // The directory lies right before the end record.
            return *dirOffset + *dirSize == tailStart + at;
        }
        if (at == 0)
            return false;
    }
}

bool CZipDirectory::ParseDirectory(const std::string& dir, std::vector<ZipDirEntry>* entries) {
    entries->clear();
    size_t at = 0;
    while (at < dir.size()) {
        if (dir.size() - at < 46 || U32(dir, at) != 0x02014b50)
            return false;
        ZipDirEntry e;
        e.method = U16(dir, at + 10);
        e.crc = U32(dir, at + 16);
        e.compressedSize = U32(dir, at + 20);
        e.size = U32(dir, at + 24);
        e.nameLength = U16(dir, at + 28);
        const size_t variable = size_t{e.nameLength} + U16(dir, at + 30) + U16(dir, at + 32);
        e.localOffset = U32(dir, at + 42);
        if (dir.size() - at - 46 < variable)
            return false;
        e.name = dir.substr(at + 46, e.nameLength);
        entries->push_back(e);
        at += 46 + variable;
    }
    return true;
}

bool CZipDirectory::DataOffset(const std::string& header, uint64_t* offset) {
    if (header.size() < kLocalHeaderSize || U32(header, 0) != 0x04034b50)
        return false;
    *offset = kLocalHeaderSize + U16(header, 26) + U16(header, 28);
    return true;
}

bool CZipDirectory::Unpack(const std::string& compressed, const ZipDirEntry& entry,
                           std::string* content) {
    // Deflate cannot expand more than about 1032 to 1: a directory claiming
    // more is lying, and must not make us allocate what it claims.
    if (compressed.size() != entry.compressedSize || entry.size > entry.compressedSize * 1032 + 64)
        return false;
    if (entry.method == 0)
        *content = compressed;
    else if (entry.method != 8 || !Inflate(compressed, entry.size, content))
        return false;
    if (content->size() != entry.size)
        return false;
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(content->data()),
                            static_cast<uInt>(content->size()));
    return crc == entry.crc;
}

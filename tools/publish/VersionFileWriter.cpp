#include "VersionFileWriter.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "base/UpdaterBase.h"
#include "engine/VersionFileLayout.h"

namespace {

void PutText(std::vector<uint8_t>& buf, size_t offset, size_t size, const std::string& text,
             const char* what) {
    // The reader copies fixed fields and relies on a terminating zero.
    if (text.size() >= size) {
        throw std::invalid_argument(std::string(what) + " too long: \"" + text + "\"");
    }
    std::memcpy(buf.data() + offset, text.data(), text.size());
}

void PutU32(std::vector<uint8_t>& buf, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        buf[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f || std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    if (std::fclose(f.release()) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

std::vector<uint8_t> CVersionFileWriter::Build(const VersionHeader& h,
                                               const std::vector<ListEntry>& entries) {
    using namespace uvf;
    std::vector<uint8_t> buf(kHeaderSize + entries.size() * kEntrySize + kTrailerSize, 0);
    PutText(buf, kUpdateNameOffset, kUpdateNameSize, h.updateName, "update name");
    PutText(buf, kUpdateVersionOffset, kVersionSize, h.updateVersion, "update version");
    PutText(buf, kLauncherVersionOffset, kVersionSize, h.launcherVersion, "launcher version");
    PutText(buf, kMinorVersionOffset, kVersionSize, h.minorVersion, "minor version");
    PutText(buf, kExecutePathOffset, kExecutePathSize, h.executePath, "execute path");
    PutText(buf, kLatestVersionOffset, kVersionSize, h.latestVersion, "latest version");
    PutText(buf, kPrimaryVersionOffset, kVersionSize, h.primaryVersion, "primary version");
    PutText(buf, kEndVersionOffset, kVersionSize, h.endVersion, "end version");
    PutU32(buf, kNameCountOffset, 0);
    PutU32(buf, kFileCountOffset, static_cast<uint32_t>(entries.size()));
    size_t at = kHeaderSize;
    for (const ListEntry& e : entries) {
        PutText(buf, at + kEntryHashOffset, kEntryHashSize, e.hash, "hash");
        PutText(buf, at + kEntryNameOffset, kEntryNameSize, e.name, "file name");
        buf[at + kEntryTypeOffset] = e.type;
        PutU32(buf, at + kEntryFileSizeOffset, e.size);
        at += kEntrySize;
    }
    return buf;
}

void CVersionFileWriter::Scramble(std::vector<uint8_t>& data) {
    ScrambleBuffer(data.data(), data.size());
}

void CVersionFileWriter::Write(const std::string& path, const VersionHeader& header,
                               const std::vector<ListEntry>& entries) {
    std::vector<uint8_t> data = Build(header, entries);
    Scramble(data);
    WriteFile(path, data);
}

void CVersionFileWriter::WriteScrambled(const std::string& path, std::vector<uint8_t> plain) {
    Scramble(plain);
    WriteFile(path, plain);
}

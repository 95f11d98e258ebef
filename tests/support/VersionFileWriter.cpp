#include "support/VersionFileWriter.h"

#include <algorithm>
#include <fstream>

namespace varntest {

namespace {

// The key is restated here rather than taken from the engine, so a wrong key
// there shows up as a failed test instead of a matching mistake.
constexpr uint8_t kKey[10] = {0x3C, 0x91, 0x5E, 0xD0, 0x0A, 0x7B, 0xE2, 0x46, 0x19, 0xC5};

void PutField(std::string& out, const std::string& value, size_t width) {
    std::string field(width, '\0');
    std::copy_n(value.begin(), std::min(width, value.size()), field.begin());
    out += field;
}

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string CVersionFileWriter::Plain() const {
    std::string out;
    PutField(out, updateName, 30);
    PutField(out, updateVersion, 20);
    PutField(out, launcherVersion, 20);
    PutField(out, minorVersion, 20);
    PutField(out, executePath, 260);
    PutField(out, latestVersion, 20);
    PutField(out, primaryVersion, 20);
    PutField(out, endVersion, 20);
    for (uint32_t r : reserved)
        PutU32(out, r);
    PutU32(out, overrideCounts ? nameCountField : nameCount);
    PutU32(out, overrideCounts ? fileCountField : uint32_t(entries.size()));
    out.append(size_t(nameCount) * 261, '\x5A');
    for (const VersionFileEntry& e : entries) {
        std::string rec;
        PutField(rec, e.hash, 41);
        PutField(rec, e.name, 260);
        rec.push_back(char(e.type));
        PutU32(rec, 0);
        PutU32(rec, e.size);
        rec.append(40, '\0');
        out += rec;
    }
    PutU32(out, trailer1);
    PutU32(out, trailer2);
    return out;
}

std::string CVersionFileWriter::Scramble(std::string data) {
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(uint8_t(data[i]) ^ kKey[i % 10]);
    return data;
}

bool CVersionFileWriter::WriteScrambled(const std::string& path, const std::string& plain) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    std::string bytes = Scramble(plain);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(f);
}

bool CVersionFileWriter::Write(const std::string& path) const {
    return WriteScrambled(path, Plain());
}

}  // namespace varntest

// CVersionFileWriter: composes fixed-layout version files (update.uvf,
// version.uvf, filelist.uvf) for tests and writes them scrambled, the form
// the engine downloads and reads. Independent of the publishing tool so that
// tests do not share its mistakes.
#pragma once
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace varntest {

struct VersionFileEntry {
    std::string hash;  // 40 upper-case hex digits
    std::string name;  // "\"-separated, relative to the game directory
    uint8_t type = 0;  // update type: 0 normal, 1 config, 2 none, 3 pack
    uint32_t size = 0;
};

class CVersionFileWriter {
public:
    // Header fields; values longer than their field are cut without a
    // terminator, as a careless publisher would write them.
    std::string updateName, updateVersion, launcherVersion, minorVersion, executePath;
    std::string latestVersion, primaryVersion, endVersion;
    // List A: this many 261-byte records (filled with a recognisable byte).
    uint32_t nameCount = 0;
    std::vector<VersionFileEntry> entries;  // list B
    // Where the name count sits in Plain(); the file count follows it.
    static constexpr size_t kCountsOffset = 422;

    // The plain bytes of the file (reserved words and trailer zero).
    std::string Plain() const {
        std::string out;
        PutField(out, updateName, 30);
        PutField(out, updateVersion, 20);
        PutField(out, launcherVersion, 20);
        PutField(out, minorVersion, 20);
        PutField(out, executePath, 260);
        PutField(out, latestVersion, 20);
        PutField(out, primaryVersion, 20);
        PutField(out, endVersion, 20);
        out.append(12, '\0');  // reserved words
        PutU32(out, nameCount);
        PutU32(out, uint32_t(entries.size()));
        out.append(size_t(nameCount) * 261, '\x5A');
        for (const VersionFileEntry& e : entries) {
            PutField(out, e.hash, 41);
            PutField(out, e.name, 260);
            out.push_back(char(e.type));
            PutU32(out, 0);
            PutU32(out, e.size);
            out.append(40, '\0');
        }
        out.append(8, '\0');  // trailer
        return out;
    }

    // Writes Scramble(Plain()) to path; false when the file cannot be written.
    bool Write(const std::string& path) const {
        const std::string bytes = Scramble(Plain());
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), std::streamsize(bytes.size()));
        return bool(f);
    }

    // XOR with the 10-byte key from the first byte; its own inverse. The key
    // is restated here rather than taken from the engine, so a wrong key
    // there shows up as a failed test instead of a matching mistake.
    static std::string Scramble(std::string data) {
        static constexpr uint8_t kKey[10] = {0x3C, 0x91, 0x5E, 0xD0, 0x0A,
                                             0x7B, 0xE2, 0x46, 0x19, 0xC5};
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = char(uint8_t(data[i]) ^ kKey[i % 10]);
        return data;
    }

private:
    static void PutField(std::string& out, const std::string& value, size_t width) {
        std::string field(width, '\0');
        std::copy_n(value.begin(), std::min(width, value.size()), field.begin());
        out += field;
    }
    static void PutU32(std::string& out, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(char((v >> (8 * i)) & 0xFF));
    }
};

}  // namespace varntest

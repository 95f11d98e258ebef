// CVersionFileWriter: composes fixed-layout version files (update.uvf,
// version.uvf, filelist.uvf) for tests and writes them scrambled, the form
// the engine downloads and reads. Independent of the publishing tool so that
// tests do not share its mistakes.
#pragma once
#include <cstdint>
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
    uint32_t reserved[3] = {0, 0, 0};
    // List A: this many 261-byte records (filled with a recognisable byte).
    uint32_t nameCount = 0;
    std::vector<VersionFileEntry> entries;
    uint32_t trailer1 = 0, trailer2 = 0;
    // When set, written instead of the real counts (the lists stay as
    // composed), to describe files that lie about their size.
    bool overrideCounts = false;
    uint32_t nameCountField = 0, fileCountField = 0;

    // The plain bytes of the file.
    std::string Plain() const;
    // Writes Scramble(Plain()) to path; false when the file cannot be written.
    bool Write(const std::string& path) const;

    // XOR with the 10-byte key from the first byte; its own inverse.
    static std::string Scramble(std::string data);
    // Writes already composed bytes scrambled.
    static bool WriteScrambled(const std::string& path, const std::string& plain);
};

}  // namespace varntest

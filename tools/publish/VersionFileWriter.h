// CVersionFileWriter: composes the scrambled fixed-layout version files
// (update.uvf, filelist.uvf, the installation's version.uvf) and the other
// scrambled files of a patch root (clientlist.uvf, type.uvf).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct VersionHeader {
    std::string updateName;
    std::string updateVersion;
    std::string launcherVersion;
    std::string minorVersion;
    std::string executePath;
    std::string latestVersion;
    std::string primaryVersion;
    std::string endVersion;
};

// One file of a patch: name relative to the game directory with "\"
// separators, as the launcher expects it in list B.
struct ListEntry {
    std::string hash;  // 40 upper-case hex digits
    std::string name;
    uint8_t type = 0;
    uint32_t size = 0;
};

class CVersionFileWriter {
public:
    // Plain bytes of a version file with an empty list A, the given list B and
    // a zero trailer. Throws std::invalid_argument when a text does not fit
    // its field (the field keeps room for the terminating zero).
    static std::vector<uint8_t> Build(const VersionHeader& header,
                                      const std::vector<ListEntry>& entries);
    // XOR with the shared 10-byte key; its own inverse.
    static void Scramble(std::vector<uint8_t>& data);
    // Build + Scramble + write to path. Throws std::runtime_error on I/O.
    static void Write(const std::string& path, const VersionHeader& header,
                      const std::vector<ListEntry>& entries);
    // Writes bytes scrambled (for profile-format files such as type.uvf).
    static void WriteScrambled(const std::string& path, std::vector<uint8_t> plain);
};

// CTypeRules: decides the update type of each published file. Files match
// configuration globs (type 1: the player's copy is kept) or take the type a
// manifest names; everything else is a normal file (type 0).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CTypeRules {
public:
    // Glob over the "/"-name: "*" and "?" do not cross "/"; a pattern
    // without "/" is matched against the file's last component only.
    void AddConfigGlob(const std::string& pattern) { m_globs.push_back(pattern); }
    // Manifest lines: "<type> <name>", name with "/" or "\"; blank lines and
    // lines starting with "#" are skipped. Types 0 to 3. Manifest entries
    // win over globs. Throws std::runtime_error on an unreadable file or a
    // malformed line.
    void LoadManifest(const std::string& path);
    // Type of a "/"-name.
    uint8_t TypeOf(const std::string& name) const;

    static bool GlobMatch(const char* pattern, const char* text);

private:
    std::vector<std::string> m_globs;
    std::map<std::string, uint8_t> m_manifest;
};

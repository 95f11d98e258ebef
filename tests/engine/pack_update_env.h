// Fixture of the pack update tests: a game directory with installed packs,
// the unpacked patch's own packs in its work folder, and file-list entries
// whose hashes are the engine's fingerprint of the content.
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/FileHash.h"
#include "engine/run_test_env.h"
#include "pack/PackFile.h"
#include "support/PackTestUtil.h"

namespace varntest {

constexpr const char* kPackBase = "1.0.0.1_to_1.0.0.2";

class PackEngine : public RunEngine {
public:
    CPackFile& Installed() { return m_Packfile; }
    CPackFile& Patch() { return m_TempPackfile; }
};

inline std::string Fingerprint(const std::string& dir, const std::string& content) {
    std::string path = dir + "/fingerprint.tmp";
    WriteBytes(path, content);
    CFileHash hash;
    hash.HashFile(path.c_str());
    hash.Final();
    char text[48] = {};
    hash.ReportHash(text, REPORT_HEX);
    std::filesystem::remove(path);
    return text;
}

inline UpdateFileEntry PackEntry(const std::string& name, const std::string& hash, uint32_t size) {
    UpdateFileEntry e{};
    std::snprintf(e.szHash, sizeof e.szHash, "%s", hash.c_str());
    std::snprintf(e.szFileName, sizeof e.szFileName, "%s", name.c_str());
    e.byUpdateType = uvf::UPDATE_TYPE_PACK;
    e.nFileSize = size;
    return e;
}

// Writes a pack holding files (inner path -> content); creates or replaces.
inline void WritePack(const std::string& path, const std::map<std::string, std::string>& files) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, 0xC))
        throw std::runtime_error("pack create");
    // One source file per entry: rewriting a single one can be slow on
    // disks that discard freed blocks synchronously.
    std::string src = path + ".src";
    std::filesystem::create_directories(src);
    int n = 0;
    for (auto& [inner, content] : files) {
        std::string one = src + "/" + std::to_string(n++);
        WriteBytes(one, content);
        if (!pack.AddFile(one.c_str(), inner.c_str()))
            throw std::runtime_error("pack add");
    }
    std::filesystem::remove_all(src);
    if (!pack.Close())
        throw std::runtime_error("pack close");
}

// Local path of a "\"-separated data name below dir.
inline std::string DataPath(const std::string& dir, std::string name) {
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    return dir + "/" + name;
}

}  // namespace varntest

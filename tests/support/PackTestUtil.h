// Helpers of the pack tests (pack layer and pack update): a private
// temporary directory, whole-file I/O, the raw header of a pack file, and
// the content of a pack as a path -> bytes map.
#pragma once
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "pack/PackFile.h"

namespace varntest {

class PackTempDir {
public:
    PackTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "varn-pack-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~PackTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    PackTempDir(const PackTempDir&) = delete;
    PackTempDir& operator=(const PackTempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads/writes the pack header fields on disk (unscrambled view).
struct RawPackHeader {
    uint32_t signature;
    uint16_t version;
    uint32_t busy;
    uint64_t treeArea;
    uint64_t endOfData;
    uint64_t endOfTree;

    static RawPackHeader Read(const std::string& bytes) {
        uint8_t h[34];
        std::memcpy(h, bytes.data(), 34);
        for (int i = 0; i < 34; ++i)
            h[i] ^= uint8_t(kPackKey[i % 24]);
        RawPackHeader r;
        std::memcpy(&r.signature, h, 4);
        std::memcpy(&r.version, h + 4, 2);
        std::memcpy(&r.busy, h + 6, 4);
        std::memcpy(&r.treeArea, h + 10, 8);
        std::memcpy(&r.endOfData, h + 18, 8);
        std::memcpy(&r.endOfTree, h + 26, 8);
        return r;
    }
    void WriteInto(std::string& bytes) const {
        uint8_t h[34];
        std::memcpy(h, &signature, 4);
        std::memcpy(h + 4, &version, 2);
        std::memcpy(h + 6, &busy, 4);
        std::memcpy(h + 10, &treeArea, 8);
        std::memcpy(h + 18, &endOfData, 8);
        std::memcpy(h + 26, &endOfTree, 8);
        for (int i = 0; i < 34; ++i)
            h[i] ^= uint8_t(kPackKey[i % 24]);
        std::memcpy(bytes.data(), h, 34);
    }
};

// Every file of an open pack with its content.
inline std::map<std::string, std::string> PackContents(CPackFile& pack) {
    std::map<std::string, std::string> out;
    pack.ForEachFile([&](const std::string& path, uint64_t size) {
        std::string data(size, '\0');
        PackSubFile* f = pack.OpenFile(path.c_str(), PACK_MODE_READ);
        if (!f || !pack.ReadFile(f, data.data(), uint32_t(size)))
            data = "<unreadable>";
        if (f)
            pack.CloseFile(f);
        out[path] = data;
    });
    return out;
}

// Opens a pack read-only and returns its contents; "<unopenable>" marks a
// pack that does not open.
inline std::map<std::string, std::string> PackContentsAt(const std::string& path) {
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, PACK_MODE_READ))
        return {{"<unopenable>", ""}};
    return PackContents(pack);
}

}  // namespace varntest

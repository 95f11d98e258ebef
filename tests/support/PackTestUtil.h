// Pack test helpers: raw fields, and packs to and from path -> bytes maps.
#pragma once
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "pack/PackFile.h"
#include "support/TempDir.h"

namespace varntest {

// Scrambles or unscrambles (the same XOR) the 34-byte header of a pack.
inline void FlipPackHeader(std::string& bytes) {
    for (size_t i = 0; i < 34 && i < bytes.size(); ++i)
        bytes[i] = char(bytes[i] ^ kPackKey[i % 24]);
}

template <class T>
T At(const std::string& bytes, size_t off) {
    T v;
    std::memcpy(&v, bytes.data() + off, sizeof v);
    return v;
}

// A new pack at path (replacing any file) holding files (inner path -> content).
inline void WritePack(const std::string& path, const std::map<std::string, std::string>& files,
                      const char* password = nullptr) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    CPackFile pack;
    if (!pack.Open(path.c_str(), password, 0xC))
        throw std::runtime_error("pack create");
    // One source file per entry: rewriting one can be slow on some disks.
    const std::string src = path + ".src";
    int n = 0;
    for (auto& [inner, content] : files) {
        const std::string one = src + "/" + std::to_string(n++);
        TempDir::WriteFile(one, content);
        if (!pack.AddFile(one.c_str(), inner.c_str()))
            throw std::runtime_error("pack add " + inner);
    }
    std::filesystem::remove_all(src);
    if (!pack.Close())
        throw std::runtime_error("pack close");
}

// Every file of an open pack with its content (or "<unreadable>").
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

// The pack at path opened read-only: its contents, or {"<unopenable>": ""}.
inline std::map<std::string, std::string> PackContentsAt(const std::string& path) {
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, PACK_MODE_READ))
        return {{"<unopenable>", ""}};
    return PackContents(pack);
}

}  // namespace varntest

#include "PackBuilder.h"

#include <filesystem>
#include <stdexcept>

#include "pack/PackFile.h"

namespace fs = std::filesystem;

void CPackBuilder::Build(const std::string& packPath,
                         const std::vector<std::pair<std::string, std::string>>& files) {
    fs::create_directories(fs::path(packPath).parent_path());
    std::error_code ec;
    fs::remove(packPath, ec);
    CPackFile pack;
    // 0xC creates a new pack; no password means the default one, which is
    // what the launcher uses for the packs it patches.
    if (!pack.Open(packPath.c_str(), nullptr, 0xC)) {
        throw std::runtime_error("cannot create pack " + packPath);
    }
    for (const auto& [local, inner] : files) {
        if (!pack.AddFile(local.c_str(), inner.c_str())) {
            throw std::runtime_error("cannot add " + inner + " to pack " + packPath);
        }
    }
    if (!pack.Close()) {
        throw std::runtime_error("cannot write pack " + packPath);
    }
}

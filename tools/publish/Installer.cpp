#include "Installer.h"

#include <filesystem>
#include <stdexcept>

#include "Publisher.h"
#include "VersionTree.h"
#include "engine/VersionFileLayout.h"

namespace fs = std::filesystem;

void CInstaller::Install(const InstallOptions& opt) {
    CPublisher::CheckNameText(opt.updateName, uvf::kUpdateNameSize, "update name");
    CPublisher::CheckNameText(opt.version, uvf::kVersionSize, "version");
    if (!opt.launcherVersion.empty()) {
        CPublisher::CheckNameText(opt.launcherVersion, uvf::kVersionSize, "launcher version");
    }
    if (opt.gameDir.empty()) {
        throw std::invalid_argument("game directory is required");
    }
    CVersionTree tree(opt.sourceDir);
    std::vector<ListEntry> entries;
    for (const TreeFile& f : tree.Files()) {
        if (f.name == "Update/version.uvf") {
            continue;
        }
        fs::path target = fs::path(opt.gameDir) / f.name;
        fs::create_directories(target.parent_path());
        std::error_code ec;
        fs::copy_file(tree.LocalPath(f.name), target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            throw std::runtime_error("cannot copy " + f.name + ": " + ec.message());
        }
        if (f.size <= 0xFFFFFFFFull) {
            entries.push_back({tree.Hash(f.name), CVersionTree::ToDataName(f.name),
                               uvf::UPDATE_TYPE_NORMAL, static_cast<uint32_t>(f.size)});
        }
    }
    fs::create_directories(fs::path(opt.gameDir) / "Update");
    CVersionFileWriter::Write(
        (fs::path(opt.gameDir) / "Update" / "version.uvf").string(),
        CPublisher::RecordHeader(opt.updateName, opt.version, opt.launcherVersion), entries);
}

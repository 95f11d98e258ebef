#include "Installer.h"

#include <filesystem>
#include <map>
#include <stdexcept>

#include "PackBuilder.h"
#include "Publisher.h"
#include "VersionTree.h"
#include "engine/VersionFileLayout.h"

namespace fs = std::filesystem;

namespace {

void CopyOne(const CVersionTree& tree, const std::string& name, const std::string& gameDir) {
    fs::path target = fs::path(gameDir) / name;
    fs::create_directories(target.parent_path());
    std::error_code ec;
    fs::copy_file(tree.LocalPath(name), target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        throw std::runtime_error("cannot copy " + name + ": " + ec.message());
    }
}

}  // namespace

void CInstaller::Install(const InstallOptions& opt) {
    CPublisher::CheckNameText(opt.updateName, uvf::kUpdateNameSize, "update name");
    CPublisher::CheckNameText(opt.version, uvf::kVersionSize, "version");
    if (!opt.launcherVersion.empty()) {
        CPublisher::CheckNameText(opt.launcherVersion, uvf::kVersionSize, "launcher version");
    }
    if (opt.gameDir.empty()) {
        throw std::invalid_argument("game directory is required");
    }
    CPublisher::CheckPackDirs(opt.packDirs);
    CVersionTree tree(opt.sourceDir);
    std::vector<ListEntry> entries;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> packs;
    for (const TreeFile& f : tree.Files()) {
        if (f.name == "Update/version.uvf") {
            continue;
        }
        std::string pack = CPublisher::PackDirOf(f.name, opt.packDirs);
        if (!pack.empty()) {
            packs[pack].emplace_back(tree.LocalPath(f.name), f.name.substr(pack.size() + 1));
        } else {
            CopyOne(tree, f.name, opt.gameDir);
        }
        if (f.size <= 0xFFFFFFFFull) {
            entries.push_back({tree.Hash(f.name), CVersionTree::ToDataName(f.name),
                               pack.empty() ? uvf::UPDATE_TYPE_NORMAL : uvf::UPDATE_TYPE_PACK,
                               static_cast<uint32_t>(f.size)});
        }
    }
    for (const auto& [pack, files] : packs) {
        CPackBuilder::Build((fs::path(opt.gameDir) / pack).string(), files);
    }
    fs::create_directories(fs::path(opt.gameDir) / "Update");
    CVersionFileWriter::Write(
        (fs::path(opt.gameDir) / "Update" / "version.uvf").string(),
        CPublisher::RecordHeader(opt.updateName, opt.version, opt.launcherVersion), entries);
}

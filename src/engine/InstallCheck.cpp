#include "engine/InstallCheck.h"

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "archive/Sha256.h"
#include "pack/PackFile.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

constexpr uint32_t kReadBlock = 1 << 16;

// SHA-256 of a loose file; "" when it cannot be read. *size gets its size.
std::string DigestOfFile(const std::string& path, uint64_t* size) {
    if (!plat::GetFileSize(path, *size))
        return "";
    return CSha256::OfFile(path);
}

// SHA-256 of a pack entry; "" when it is not there or cannot be read.
std::string DigestOfEntry(CPackFile& pack, const std::string& inner, uint64_t* size) {
    PackSubFile* sub = pack.OpenFile(inner.c_str(), PACK_MODE_READ);
    if (!sub)
        return "";
    *size = CPackFile::GetSubFileSize(sub);
    CSha256 sha;
    std::vector<char> block(kReadBlock);
    bool ok = true;
    for (uint64_t left = *size; ok && left > 0;) {
        const auto n = static_cast<uint32_t>(left < kReadBlock ? left : kReadBlock);
        ok = pack.ReadFile(sub, block.data(), n) != 0;
        sha.Update(block.data(), n);
        left -= n;
    }
    pack.CloseFile(sub);
    return ok ? sha.FinalHex() : "";
}

int Judge(const ManifestFile& f, bool present, uint64_t size, const std::string& digest) {
    if (!present)
        return FINDING_MISSING;
    if (size == f.size && digest == f.sha256)
        return -1;
    return f.type == 1 ? FINDING_CHANGED : FINDING_DAMAGED;
}

}  // namespace

std::string CInstallCheck::LocalPath(const std::string& dir, const std::string& name) {
    return plat::JoinDataPath(dir, name.c_str());
}

uint64_t CInstallCheck::TotalBytes(const CRootManifest& manifest) {
    uint64_t total = 0;
    for (const ManifestFile& f : manifest.files)
        total += f.size;
    return total;
}

bool CInstallCheck::Run(const std::string& gameDir, const CRootManifest& manifest, const Tick& tick,
                        std::vector<InstallFinding>* findings) {
    // One open pack at a time, read-only: a check changes nothing.
    std::unique_ptr<CPackFile> pack;
    std::string packName;
    bool packOpen = false;
    uint64_t bytes = 0;
    for (const ManifestFile& f : manifest.files) {
        uint64_t size = 0;
        std::string digest;
        bool present = false;
        if (f.pack.empty()) {
            const std::string path = LocalPath(gameDir, f.name);
            present = plat::IsRegularFile(path);
            digest = present ? DigestOfFile(path, &size) : "";
        } else {
            if (!pack || packName != f.pack) {
                pack = std::make_unique<CPackFile>();
                packName = f.pack;
                packOpen =
                    pack->Open(LocalPath(gameDir, f.pack).c_str(), nullptr, PACK_MODE_READ) != 0;
            }
            present = packOpen && pack->Exists(f.name.c_str());
            digest = present ? DigestOfEntry(*pack, f.name, &size) : "";
        }
        const int kind = Judge(f, present, size, digest);
        if (kind >= 0)
            findings->push_back({f, kind, false});
        bytes += f.size;
        if (!tick(f.ListName(), bytes))
            return false;
    }
    return true;
}

#include "engine/InstallRepair.h"

#include <algorithm>
#include <vector>

#include "archive/Sha256.h"
#include "pack/PackFile.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

// Most archives end with their end record and no comment: a small first
// read finds it; only an archive with a long comment needs the largest.
constexpr uint64_t kFirstTail = 4096;
// Room for the local header's extra field, which may differ from the
// directory's copy: one request then usually brings the whole entry.
constexpr uint64_t kLocalSlack = 512;

std::string ZipName(const std::string& dataName) {
    std::string name = dataName;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace

CInstallRepair::CInstallRepair(std::string gameDir, std::string workDir, ReadPart read,
                               uint64_t archiveSize)
    : m_gameDir(std::move(gameDir)),
      m_workDir(std::move(workDir)),
      m_read(std::move(read)),
      m_archiveSize(archiveSize) {}

CInstallRepair::~CInstallRepair() {
    plat::DeleteTree(m_workDir);
}

bool CInstallRepair::Fail(const std::string& why) {
    m_error = why;
    return false;
}

bool CInstallRepair::Open() {
    uint64_t dirOffset = 0, dirSize = 0;
    std::string tail;
    bool found = false;
    for (uint64_t want : {kFirstTail, CZipDirectory::kTailSize}) {
        const uint64_t n = std::min(want, m_archiveSize);
        if (!m_read(m_archiveSize - n, n, &tail))
            return Fail("the archive's end could not be read");
        found = CZipDirectory::FindDirectory(tail, m_archiveSize, &dirOffset, &dirSize);
        if (found || n == m_archiveSize)
            break;
    }
    if (!found)
        return Fail("the archive has no readable directory");
    const uint64_t tailStart = m_archiveSize - tail.size();
    std::string dir;
    if (dirOffset >= tailStart) {
        dir = tail.substr(dirOffset - tailStart, dirSize);
    } else {
        // Only the part before the bytes already read is asked for.
        if (!m_read(dirOffset, tailStart - dirOffset, &dir))
            return Fail("the archive's directory could not be read");
        dir += tail.substr(0, dirSize - dir.size());
    }
    std::vector<ZipDirEntry> entries;
    if (!CZipDirectory::ParseDirectory(dir, &entries))
        return Fail("the archive's directory is malformed");
    for (const ZipDirEntry& e : entries)
        m_entries[e.name] = e;
    return true;
}

bool CInstallRepair::ReadEntry(const std::string& dataName, std::string* content) {
    const auto it = m_entries.find(ZipName(dataName));
    if (it == m_entries.end())
        return Fail("the archive has no " + dataName);
    const ZipDirEntry& e = it->second;
    if (e.localOffset >= m_archiveSize)
        return Fail("the archive's entry " + dataName + " lies outside it");
    const uint64_t want =
        std::min(CZipDirectory::kLocalHeaderSize + e.nameLength + kLocalSlack + e.compressedSize,
                 m_archiveSize - e.localOffset);
    std::string bytes;
    uint64_t dataOffset = 0;
    if (!m_read(e.localOffset, want, &bytes) || !CZipDirectory::DataOffset(bytes, &dataOffset))
        return Fail("the archive's entry " + dataName + " could not be read");
    const uint64_t end = dataOffset + e.compressedSize;
    if (end > bytes.size()) {
        if (e.localOffset + end > m_archiveSize)
            return Fail("the archive's entry " + dataName + " lies outside it");
        std::string rest;
        if (!m_read(e.localOffset + bytes.size(), end - bytes.size(), &rest))
            return Fail("the archive's entry " + dataName + " could not be read");
        bytes += rest;
    }
    if (!CZipDirectory::Unpack(bytes.substr(dataOffset, e.compressedSize), e, content))
        return Fail("the archive's entry " + dataName + " is damaged");
    return true;
}

bool CInstallRepair::Repair(const ManifestFile& file) {
    if (!file.pack.empty())
        return RepairPackEntry(file);
    std::string content;
    return ReadEntry(file.name, &content) && RepairLoose(file, content);
}

bool CInstallRepair::RepairLoose(const ManifestFile& file, const std::string& content) {
    if (CSha256::OfData(content.data(), content.size()) != file.sha256)
        return Fail("the archive's " + file.name + " is not the listed file");
    const std::string path = CInstallCheck::LocalPath(m_gameDir, file.name);
    const std::string scratch = path + ".repair";
    plat::CreateDirectoryChain(ParentOf(path));
    // Whole or not at all: the new bytes go in beside the old file first.
    if (!plat::WriteWholeFile(scratch, content.data(), content.size()) ||
        !plat::MoveFile(scratch, path)) {
        plat::DeleteFile(scratch);
        return Fail(path + " could not be written");
    }
    return true;
}

std::string CInstallRepair::PackCopy(const std::string& pack) {
    const auto known = m_packCopies.find(pack);
    if (known != m_packCopies.end())
        return known->second;
    std::string content;
    if (!ReadEntry(pack, &content))
        return "";
    plat::CreateDirectoryChain(m_workDir);
    const std::string path =
        plat::JoinPath(m_workDir, "pack" + std::to_string(m_packCopies.size()) + ".lpk");
    if (!plat::WriteWholeFile(path, content.data(), content.size())) {
        Fail(path + " could not be written");
        return "";
    }
    m_packCopies[pack] = path;
    return path;
}

bool CInstallRepair::RepairPackEntry(const ManifestFile& file) {
    const std::string copy = PackCopy(file.pack);
    if (copy.empty())
        return false;
    std::string content;
    {
        CPackFile source;
        PackSubFile* sub = source.Open(copy.c_str(), nullptr, PACK_MODE_READ)
                               ? source.OpenFile(file.name.c_str(), PACK_MODE_READ)
                               : nullptr;
        if (!sub)
            return Fail("the archive's pack " + file.pack + " has no " + file.name);
        content.resize(CPackFile::GetSubFileSize(sub));
        const bool read =
            content.empty() ||
            source.ReadFile(sub, content.data(), static_cast<uint32_t>(content.size())) != 0;
        source.CloseFile(sub);
        if (!read)
            return Fail("the archive's pack " + file.pack + " could not be read");
    }
    if (CSha256::OfData(content.data(), content.size()) != file.sha256)
        return Fail("the archive's " + file.ListName() + " is not the listed file");
    const std::string scratch = plat::JoinPath(m_workDir, "entry.tmp");
    if (!plat::WriteWholeFile(scratch, content.data(), content.size()))
        return Fail(scratch + " could not be written");
    const std::string packPath = CInstallCheck::LocalPath(m_gameDir, file.pack);
    CPackFile installed;
    bool open = false;
    if (plat::FileExists(packPath)) {
        open = installed.Open(packPath.c_str(), nullptr, PACK_MODE_WRITE | PACK_MODE_CONTAINER);
    } else {
        plat::CreateDirectoryChain(ParentOf(packPath));
        open = installed.Open(packPath.c_str(), nullptr, PACK_MODE_CREATE | PACK_MODE_CONTAINER);
    }
    if (!open)
        return Fail(packPath + " could not be opened");
    // A damaged entry goes first; a missing one is simply not there.
    installed.DeleteFile(file.name.c_str());
    const std::string parent = ParentOf(file.name);
    if (!parent.empty())
        installed.MakeDirectory(parent.c_str());
    const bool added = installed.AddFile(scratch.c_str(), file.name.c_str()) != 0;
    const bool closed = installed.Close() != 0;
    plat::DeleteFile(scratch);
    if (!added || !closed)
        return Fail(file.ListName() + " could not be written into " + packPath);
    return true;
}

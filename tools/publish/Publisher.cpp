#include "Publisher.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>

#include "FileDigest.h"
#include "PackBuilder.h"
#include "Signer.h"
#include "VersionTree.h"
#include "ZipWriter.h"
#include "archive/RootManifest.h"
#include "archive/Sha256.h"
#include "engine/VersionFileLayout.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kListName = "filelist.uvf";
// The publisher writes the installation record itself; a copy inside a
// version directory would silently replace it.
constexpr const char* kRecordName = "Update/version.uvf";

// The new launcher first runs from the update directory, where only the
// archive's files are: without a program and its libraries beside it, it
// could not start and install itself, and every launcher would stay old.
void CheckLauncherSet(const CVersionTree& tree) {
    bool program = false;
    for (const TreeFile& f : tree.Files()) {
        const fs::perms p = fs::status(tree.LocalPath(f.name)).permissions();
        program = program || (f.name.find('/') == std::string::npos &&
                              (p & fs::perms::owner_exec) != fs::perms::none);
    }
    std::string missing = program ? "" : "an executable program";
    for (const char* lib : {"libvarncore.so", "libvarnplatform.so"}) {
        if (tree.Find(lib) == nullptr) {
            missing += (missing.empty() ? "" : ", ") + std::string(lib);
        }
    }
    if (!missing.empty()) {
        throw std::invalid_argument("--launcher-dir " + tree.Dir() + " lacks " + missing +
                                    " at its top: the new launcher starts from its own "
                                    "directory and needs them there");
    }
}

std::string ArchivePath(const std::string& root, const std::string& baseName) {
    return (fs::path(root) / (baseName + ".lbc")).string();
}

// Closes the archive, moves it to its published name and describes it.
ArchiveInfo FinishArchive(CZipWriter& zip, const std::string& tmp, const std::string& path,
                          const std::string& baseName) {
    zip.Close();
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        throw std::runtime_error("cannot rename " + tmp + ": " + ec.message());
    }
    ArchiveInfo info;
    info.baseName = baseName;
    info.fileSize = fs::file_size(path);
    info.fileCount = zip.EntryCount();
    info.guid = CFileDigest::HashFile(path);
    info.unpackedSize = zip.UnpackedSize();
    info.sha256 = CSha256::OfFile(path);
    if (info.sha256.empty()) {
        throw std::runtime_error("cannot read " + path);
    }
    return info;
}

uint32_t ListSize(const TreeFile& f) {
    // The file list holds sizes as 32-bit values; a larger file would be
    // announced with a wrong size.
    if (f.size > 0xFFFFFFFFull) {
        throw std::invalid_argument("file too large for a file list: " + f.name);
    }
    return static_cast<uint32_t>(f.size);
}

}  // namespace

CPublisher::CPublisher(PublishOptions options) : m_opt(std::move(options)) {}
CPublisher::~CPublisher() = default;

void CPublisher::CheckNameText(const std::string& text, size_t fieldSize, const char* what) {
    if (text.empty() || text.size() >= fieldSize) {
        throw std::invalid_argument(std::string(what) + " must have 1 to " +
                                    std::to_string(fieldSize - 1) + " characters: \"" + text +
                                    "\"");
    }
    if (text.find_first_of("/\\:") != std::string::npos || text.find("..") != std::string::npos) {
        throw std::invalid_argument(std::string(what) + " is not usable in a file name: \"" + text +
                                    "\"");
    }
}

void CPublisher::CheckPackDirs(const std::vector<std::string>& packDirs) {
    for (const std::string& dir : packDirs) {
        bool ok = CVersionTree::IsPublishableName(dir) && dir.size() > 4 &&
                  dir.compare(dir.size() - 4, 4, ".lpk") == 0;
        if (!ok) {
            throw std::invalid_argument("pack directory must be a relative path ending in .lpk: " +
                                        dir);
        }
        // The launcher takes the first ".lpk" part of a name as the pack.
        if (dir.find(".lpk/") != std::string::npos) {
            throw std::invalid_argument("pack directory inside another pack: " + dir);
        }
    }
}

std::string CPublisher::PackDirOf(const std::string& name,
                                  const std::vector<std::string>& packDirs) {
    for (const std::string& dir : packDirs) {
        if (name.size() > dir.size() + 1 && name.compare(0, dir.size(), dir) == 0 &&
            name[dir.size()] == '/') {
            return dir;
        }
    }
    return "";
}

void CPublisher::AddEntries(CZipWriter& zip, const CVersionTree& tree,
                            const std::vector<ListEntry>& entries,
                            const std::vector<std::string>& packDirs,
                            const std::string& scratchDir) {
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> packs;
    for (const ListEntry& e : entries) {
        std::string name = e.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        std::string pack = PackDirOf(name, packDirs);
        if (pack.empty()) {
            zip.AddFile(tree.LocalPath(name), name);
        } else {
            packs[pack].emplace_back(tree.LocalPath(name), name.substr(pack.size() + 1));
        }
    }
    for (const auto& [pack, files] : packs) {
        std::string packPath = (fs::path(scratchDir) / pack).string();
        CPackBuilder::Build(packPath, files);
        zip.AddFile(packPath, pack);
    }
    std::error_code ec;
    fs::remove_all(scratchDir, ec);
}

uint8_t CPublisher::EntryType(const std::string& name) const {
    if (!PackDirOf(name, m_opt.packDirs).empty()) {
        return uvf::UPDATE_TYPE_PACK;
    }
    uint8_t type = m_rules.TypeOf(name);
    // A pack entry needs a pack in the archive to come from.
    if (type == uvf::UPDATE_TYPE_PACK) {
        throw std::invalid_argument("type 3 outside a --pack-dir: " + name);
    }
    return type;
}

std::string CPublisher::ScratchDir() const {
    return (fs::path(m_opt.outDir) / ".publish-packs.tmp").string();
}

VersionHeader CPublisher::RecordHeader(const std::string& updateName, const std::string& version,
                                       const std::string& launcherVersion) {
    VersionHeader h;
    h.updateName = updateName;
    h.updateVersion = version;
    h.launcherVersion = launcherVersion;
    // "unknown" would compare above every numeric minor version and so hide
    // any minor archive published later; "0" compares below all of them.
    h.minorVersion = "0";
    h.latestVersion = version;
    h.primaryVersion = version;
    h.endVersion = version;
    return h;
}

void CPublisher::Validate() const {
    if (m_opt.outDir.empty()) {
        throw std::invalid_argument("--out is required");
    }
    CheckNameText(m_opt.updateName, uvf::kUpdateNameSize, "update name");
    if (m_opt.versions.empty()) {
        throw std::invalid_argument("at least one VERSION:DIR is required");
    }
    std::set<std::string> seen;
    for (const PublishedVersion& v : m_opt.versions) {
        CheckNameText(v.version, uvf::kVersionSize, "version");
        if (!seen.insert(v.version).second) {
            throw std::invalid_argument("version given twice: " + v.version);
        }
    }
    if (!m_opt.primaryVersion.empty()) {
        CheckNameText(m_opt.primaryVersion, uvf::kVersionSize, "primary version");
    }
    if (!m_opt.minor.version.empty()) {
        CheckNameText(m_opt.minor.version, uvf::kVersionSize, "minor version");
        if (m_opt.minor.version == "unknown") {
            throw std::invalid_argument("\"unknown\" means no minor version");
        }
    }
    if (!m_opt.launcherVersion.empty()) {
        CheckNameText(m_opt.launcherVersion, uvf::kVersionSize, "launcher version");
    }
    CheckPackDirs(m_opt.packDirs);
    if (!m_opt.launcherDir.empty() && m_opt.launcherVersion.empty()) {
        throw std::invalid_argument("--launcher-dir needs --launcher-version");
    }
    if (!m_opt.launcherDir.empty()) {
        CheckLauncherSet(CVersionTree(m_opt.launcherDir));
    }
}

std::vector<ListEntry> CPublisher::ChangedFiles(const CVersionTree* from,
                                                const CVersionTree& to) const {
    std::vector<ListEntry> out;
    for (const TreeFile& f : to.Files()) {
        if (f.name == kRecordName) {
            continue;
        }
        if (f.name == kListName) {
            throw std::invalid_argument(std::string(kListName) + " is reserved: " + to.Dir());
        }
        const TreeFile* old = from ? from->Find(f.name) : nullptr;
        if (old && old->size == f.size &&
            CVersionTree::SameContent(from->LocalPath(f.name), to.LocalPath(f.name))) {
            continue;
        }
        out.push_back(
            {to.Hash(f.name), CVersionTree::ToDataName(f.name), EntryType(f.name), ListSize(f)});
    }
    return out;
}

ArchiveInfo CPublisher::WriteListArchive(const std::string& baseName, const CVersionTree& tree,
                                         const std::vector<ListEntry>& entries,
                                         const VersionHeader& header) {
    std::string path = ArchivePath(m_opt.outDir, baseName);
    std::string tmp = path + ".tmp";
    CZipWriter zip(tmp, m_opt.store);
    AddEntries(zip, tree, entries, m_opt.packDirs, ScratchDir());
    std::vector<uint8_t> list = CVersionFileWriter::Build(header, entries);
    CVersionFileWriter::Scramble(list);
    zip.AddData(kListName, list.data(), list.size());
    return FinishArchive(zip, tmp, path, baseName);
}

ArchiveInfo CPublisher::WriteFullArchive() {
    const CVersionTree& latest = *m_trees.back();
    const std::string& version = m_opt.versions.back().version;
    std::string baseName = "Full_" + m_opt.updateName + "_" + version;
    std::string path = ArchivePath(m_opt.outDir, baseName);
    std::string tmp = path + ".tmp";
    CZipWriter zip(tmp, m_opt.store);
    std::vector<ListEntry> entries = ChangedFiles(nullptr, latest);
    AddEntries(zip, latest, entries, m_opt.packDirs, ScratchDir());
    // The full archive unpacks over the game directory and brings its own
    // installation record: the engine does not write version.uvf after it.
    VersionHeader h = RecordHeader(m_opt.updateName, version, m_opt.launcherVersion);
    std::vector<uint8_t> record = CVersionFileWriter::Build(h, entries);
    CVersionFileWriter::Scramble(record);
    zip.AddData(kRecordName, record.data(), record.size());
    return FinishArchive(zip, tmp, path, baseName);
}

void CPublisher::WriteLauncherArchive() {
    CVersionTree tree(m_opt.launcherDir);
    fs::create_directories(fs::path(m_opt.outDir) / "LAUNCHER");
    std::string baseName = "LAUNCHER/LAUNCHER_" + m_opt.launcherVersion;
    std::string path = ArchivePath(m_opt.outDir, baseName);
    std::string tmp = path + ".tmp";
    CZipWriter zip(tmp, m_opt.store);
    std::string list = "[SETUP]\r\nFILECOUNT=" + std::to_string(tree.Files().size()) + "\r\n";
    int index = 0;
    for (const TreeFile& f : tree.Files()) {
        if (f.name == "clientlist.uvf") {
            throw std::invalid_argument("clientlist.uvf is reserved: " + m_opt.launcherDir);
        }
        zip.AddFile(tree.LocalPath(f.name), f.name);
        list += "FILE" + std::to_string(index++) + "=" + CVersionTree::ToDataName(f.name) + "\r\n";
    }
    std::vector<uint8_t> data(list.begin(), list.end());
    CVersionFileWriter::Scramble(data);
    zip.AddData("clientlist.uvf", data.data(), data.size());
    m_launcherArchive = FinishArchive(zip, tmp, path, baseName);
}

VersionHeader CPublisher::PublishedHeader() const {
    const std::string& latest = m_opt.versions.back().version;
    VersionHeader h;
    h.updateName = m_opt.updateName;
    h.updateVersion = latest;
    h.launcherVersion = m_opt.launcherVersion;
    h.minorVersion = m_opt.minor.version.empty() ? "unknown" : m_opt.minor.version;
    h.latestVersion = latest;
    h.primaryVersion =
        m_opt.primaryVersion.empty() ? m_opt.versions.front().version : m_opt.primaryVersion;
    h.endVersion = m_opt.versions.front().version;
    return h;
}

void CPublisher::WriteUpdateFile() const {
    CVersionFileWriter::Write((fs::path(m_opt.outDir) / "update.uvf").string(), PublishedHeader(),
                              {});
}

void CPublisher::WriteVersionList(uint64_t fullSize) const {
    std::string text = "[VERSIONLIST]\r\n";
    text += "FULLVERSIONSIZE=" + std::to_string(fullSize) + "\r\n";
    text += "MINORVERSION=" + m_opt.minor.version + "\r\n";
    text += "VERSIONCOUNT=" + std::to_string(m_opt.versions.size()) + "\r\n";
    // Newest first: the engine walks the list from the highest index down.
    for (size_t i = 0; i < m_opt.versions.size(); ++i) {
        text += "VERSION" + std::to_string(i) + "=" +
                m_opt.versions[m_opt.versions.size() - 1 - i].version + "\r\n";
    }
    for (const ArchiveInfo& a : m_archives) {
        text += "\r\n[" + a.baseName + ".lbc]\r\n";
        text += "FILESIZE=" + std::to_string(a.fileSize) + "\r\n";
        text += "FILECOUNT=" + std::to_string(a.fileCount) + "\r\n";
        text += "GUID=" + a.guid + "\r\n";
        text += "NOTCOMPRESSSIZE=" + std::to_string(a.unpackedSize) + "\r\n";
    }
    std::string path = (fs::path(m_opt.outDir) / "versionlist.uvf").string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void CPublisher::WriteManifest() const {
    CRootManifest manifest;
    manifest.version = m_opt.versions.back().version;
    if (!m_opt.noFull) {
        manifest.fullArchive = m_archives.back().baseName + ".lbc";
    }
    std::vector<const ArchiveInfo*> all;
    for (const ArchiveInfo& a : m_archives) {
        all.push_back(&a);
    }
    if (!m_launcherArchive.baseName.empty()) {
        all.push_back(&m_launcherArchive);
    }
    for (const ArchiveInfo* a : all) {
        manifest.archives.push_back(
            {CVersionTree::ToDataName(a->baseName + ".lbc"), a->fileSize, a->sha256});
    }
    const CVersionTree& latest = *m_trees.back();
    for (const TreeFile& f : latest.Files()) {
        const uint8_t type = f.name == kRecordName ? uvf::UPDATE_TYPE_NONE : EntryType(f.name);
        // Entries of type 2 are never installed, so there is nothing to check.
        if (type == uvf::UPDATE_TYPE_NONE) {
            continue;
        }
        ManifestFile m;
        m.type = type;
        m.size = f.size;
        m.sha256 = CSha256::OfFile(latest.LocalPath(f.name));
        const std::string pack = PackDirOf(f.name, m_opt.packDirs);
        m.pack = pack.empty() ? "" : CVersionTree::ToDataName(pack);
        m.name = CVersionTree::ToDataName(pack.empty() ? f.name : f.name.substr(pack.size() + 1));
        if (m.sha256.empty()) {
            throw std::runtime_error("cannot read " + latest.LocalPath(f.name));
        }
        manifest.files.push_back(m);
    }
    const std::string path = (fs::path(m_opt.outDir) / CRootManifest::kFileName).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << manifest.Format();
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void CPublisher::SignRoot() const {
    if (m_opt.signKey.empty()) {
        return;
    }
    CSigner signer(m_opt.signKey);
    for (const char* name : {CRootManifest::kFileName, "versionlist.uvf", "update.uvf"}) {
        signer.SignFile((fs::path(m_opt.outDir) / name).string());
    }
}

void CPublisher::WriteTypeFile() const {
    std::ifstream in(m_opt.typeIni, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + m_opt.typeIni);
    }
    std::vector<uint8_t> plain((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    CVersionFileWriter::WriteScrambled((fs::path(m_opt.outDir) / "type.uvf").string(),
                                       std::move(plain));
}

void CPublisher::Run() {
    try {
        Publish();
    } catch (...) {
        RemoveTemporaries();
        throw;
    }
}

void CPublisher::RemoveTemporaries() const {
    // Leave nothing half-written behind: a ".tmp" archive is never served,
    // but it would sit in the patch root until the next publish.
    std::error_code ec;
    fs::remove_all(ScratchDir(), ec);
    for (const fs::path& dir : {fs::path(m_opt.outDir), fs::path(m_opt.outDir) / "LAUNCHER"}) {
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            if (e.path().extension() == ".tmp") {
                fs::remove(e.path(), ec);
            }
        }
    }
}

void CPublisher::Publish() {
    Validate();
    if (!m_opt.signKey.empty()) {
        CSigner check(m_opt.signKey);  // a bad key fails before anything is written
    }
    for (const std::string& g : m_opt.configGlobs) {
        m_rules.AddConfigGlob(g);
    }
    if (!m_opt.manifest.empty()) {
        m_rules.LoadManifest(m_opt.manifest);
    }
    for (const PublishedVersion& v : m_opt.versions) {
        m_trees.push_back(std::make_unique<CVersionTree>(v.dir));
    }
    fs::create_directories(m_opt.outDir);
    m_archives.clear();
    const std::string& latest = m_opt.versions.back().version;
    for (size_t i = 1; i < m_trees.size(); ++i) {
        const std::string& to = m_opt.versions[i].version;
        VersionHeader h = PublishedHeader();
        h.updateVersion = to;
        h.minorVersion = "0";
        m_archives.push_back(WriteListArchive(m_opt.versions[i - 1].version + "_to_" + to,
                                              *m_trees[i],
                                              ChangedFiles(m_trees[i - 1].get(), *m_trees[i]), h));
    }
    if (!m_opt.minor.version.empty()) {
        CVersionTree minorTree(m_opt.minor.dir);
        VersionHeader h = PublishedHeader();
        m_archives.push_back(WriteListArchive("minor_to_" + latest + "_of_" + m_opt.minor.version,
                                              minorTree,
                                              ChangedFiles(m_trees.back().get(), minorTree), h));
    }
    uint64_t fullSize = 0;
    if (!m_opt.noFull) {
        m_archives.push_back(WriteFullArchive());
        fullSize = m_archives.back().fileSize;
    }
    if (!m_opt.launcherDir.empty()) {
        WriteLauncherArchive();
    }
    if (!m_opt.typeIni.empty()) {
        WriteTypeFile();
    }
    // update.uvf last: a client that sees the new version finds every file
    // it leads to already in place.
    WriteManifest();
    WriteVersionList(fullSize);
    WriteUpdateFile();
    SignRoot();
}

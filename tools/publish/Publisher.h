// CPublisher: writes a complete patch root from the directories of the
// published versions: update.uvf, versionlist.uvf, one incremental archive
// per neighbouring pair of versions, the full archive, and optionally the
// minor archive, the launcher archive and type.uvf.
//
// Output is deterministic: files are taken in byte-wise name order and zip
// entries carry a fixed time. Each archive is written under a temporary name
// and renamed when complete, so an interrupted run never leaves a truncated
// file under a published name.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PublishOptions.h"
#include "TypeRules.h"
#include "VersionFileWriter.h"

class CVersionTree;
class CZipWriter;

// Result of one written archive, as versionlist.uvf describes it.
struct ArchiveInfo {
    std::string baseName;  // without ".lbc"
    uint64_t fileSize = 0;
    int fileCount = 0;
    std::string guid;
    uint64_t unpackedSize = 0;
    std::string sha256;  // of the whole archive file
};

class CPublisher {
public:
    explicit CPublisher(PublishOptions options);
    ~CPublisher();

    // Publishes everything. Throws std::invalid_argument for bad options or
    // unsafe names and std::runtime_error for I/O failures.
    void Run();

    // The archives written by the last Run, in versionlist.uvf order.
    const std::vector<ArchiveInfo>& Archives() const { return m_archives; }

    // Throws std::invalid_argument unless text is usable both inside a
    // fixed-width field (fieldSize with the terminator) and as part of a file
    // name: not empty, no path separators, no "..".
    static void CheckNameText(const std::string& text, size_t fieldSize, const char* what);
    // The installation record header of a version ("0" minor = none applied).
    // Throws std::invalid_argument unless every pack directory is a safe
    // relative path whose last part ends in ".lpk" and none lies in another.
    static void CheckPackDirs(const std::vector<std::string>& packDirs);
    // The pack directory a "/"-name lies in, "" when none.
    static std::string PackDirOf(const std::string& name, const std::vector<std::string>& packDirs);
    // Adds the entries to the archive: loose files as they are, pack entries
    // (type 3) gathered into one freshly built pack per pack directory, so
    // the archive holds the pack at the path the list's names go through.
    static void AddEntries(CZipWriter& zip, const CVersionTree& tree,
                           const std::vector<ListEntry>& entries,
                           const std::vector<std::string>& packDirs, const std::string& scratchDir);
    static VersionHeader RecordHeader(const std::string& updateName, const std::string& version,
                                      const std::string& launcherVersion);

private:
    void Publish();
    void RemoveTemporaries() const;
    void Validate() const;
    std::vector<ListEntry> ChangedFiles(const CVersionTree* from, const CVersionTree& to) const;
    ArchiveInfo WriteListArchive(const std::string& baseName, const CVersionTree& tree,
                                 const std::vector<ListEntry>& entries,
                                 const VersionHeader& header);
    ArchiveInfo WriteFullArchive();
    void WriteLauncherArchive();
    void WriteUpdateFile() const;
    void WriteVersionList(uint64_t fullSize) const;
    void WriteTypeFile() const;
    // manifest.uvf: the latest version's files and every archive's SHA-256.
    void WriteManifest() const;
    // Detached signatures of the root's version files (with --sign-key).
    void SignRoot() const;
    VersionHeader PublishedHeader() const;
    uint8_t EntryType(const std::string& name) const;
    std::string ScratchDir() const;

    PublishOptions m_opt;
    CTypeRules m_rules;
    std::vector<std::unique_ptr<CVersionTree>> m_trees;
    std::vector<ArchiveInfo> m_archives;
    ArchiveInfo m_launcherArchive;  // baseName "" when none
};

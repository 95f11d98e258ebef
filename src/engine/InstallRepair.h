// CInstallRepair: puts back missing and damaged files of an installation
// from the full archive, reading only the parts of the archive it needs:
// its central directory and the entries of the files to repair (a pack
// entry comes out of the archive's copy of its pack and goes into the
// installed pack through the pack layer). Every repaired file is checked
// against the manifest's SHA-256 before it is written, and a loose file
// replaces the old one only once it is whole.
//
// Threads: one object is used by one thread at a time.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "archive/ZipDirectory.h"
#include "engine/InstallCheck.h"

class CInstallRepair {
public:
    // Reads bytes [offset, offset + length) of the archive into *out.
    using ReadPart = std::function<bool(uint64_t offset, uint64_t length, std::string* out)>;

    // workDir: a directory of the repair's own (created when needed,
    // removed by the destructor) for copies of packs and scratch files.
    CInstallRepair(std::string gameDir, std::string workDir, ReadPart read, uint64_t archiveSize);
    ~CInstallRepair();
    CInstallRepair(const CInstallRepair&) = delete;
    CInstallRepair& operator=(const CInstallRepair&) = delete;

    // Reads the archive's directory; false (Error() says why) when it cannot.
    bool Open();
    // Puts back one missing or damaged file; true when it is now as listed.
    bool Repair(const ManifestFile& file);
    const std::string& Error() const { return m_error; }

private:
    bool ReadEntry(const std::string& dataName, std::string* content);
    bool RepairLoose(const ManifestFile& file, const std::string& content);
    bool RepairPackEntry(const ManifestFile& file);
    // The archive's copy of a pack as a local file; "" when it cannot be had.
    std::string PackCopy(const std::string& pack);
    bool Fail(const std::string& why);

    std::string m_gameDir;
    std::string m_workDir;
    ReadPart m_read;
    uint64_t m_archiveSize;
    std::map<std::string, ZipDirEntry> m_entries;  // by "/"-name
    std::map<std::string, std::string> m_packCopies;
    std::string m_error;
};

// CUpdateVersion: reader of the fixed-layout version files (update.uvf,
// version.uvf, filelist.uvf). The stored file is scrambled with the 10-byte
// key; Load unscrambles it into an owned buffer and parses the header.
//
// Threads: one thread uses an object at a time; the internal lock only
// serialises loading against file-list access.
#pragma once
#include <cstdint>
#include <string>

#include "engine/VersionFileLayout.h"
#include "platform/Thread.h"

class CUpdateVersion {
public:
    CUpdateVersion() = default;
    ~CUpdateVersion() = default;
    CUpdateVersion(const CUpdateVersion&) = delete;
    CUpdateVersion& operator=(const CUpdateVersion&) = delete;

    // Copies the path (cut to 259 characters).
    void SetPath(const char* path);
    const char* GetPath() const { return m_szPath; }

    // Reads, unscrambles and parses the file at the path. Returns false when
    // the file cannot be read (object unchanged), or when it is empty or too
    // short for its header, lists and trailer (object reset). The header
    // strings change only on success.
    bool LoadUpdateVersion();

    // Frees the buffer and zeroes list positions, reserved integers, counts
    // and trailer; keeps the path and the header strings.
    void Reset();

    // First entry of list B and its count (0 and nullptr when nothing is
    // loaded). Each entry's hash and name are zero-terminated within their
    // fields. The pointer is valid until the next load, reset or destruction.
    const UpdateFileEntry* GetFileList(uint32_t* fileCount);

    // Header strings, always zero-terminated; zero-filled until a load
    // succeeds. Read directly by the engine.
    char m_szUpdateName[uvf::kUpdateNameSize] = {};
    char m_szUpdateVersion[uvf::kVersionSize] = {};
    char m_szLauncherVersion[uvf::kVersionSize] = {};
    char m_szMinorVersion[uvf::kVersionSize] = {};
    char m_szExecutePath[uvf::kExecutePathSize] = {};
    char m_szLatestVersion[uvf::kVersionSize] = {};
    char m_szPrimaryVersion[uvf::kVersionSize] = {};
    char m_szEndVersion[uvf::kVersionSize] = {};

    uint32_t m_nReserved1 = 0, m_nReserved2 = 0, m_nReserved3 = 0;
    uint32_t m_nNameCount = 0;
    uint32_t m_nFileCount = 0;
    uint32_t m_nTrailer1 = 0, m_nTrailer2 = 0;

    // Total size a file with these counts needs; never overflows.
    static uint64_t RequiredSize(uint32_t nameCount, uint32_t fileCount);

private:
    void ResetLocked();
    void ParseHeader();
    void TerminateEntryStrings();

    char m_szPath[260] = {};
    std::string m_Buffer;  // the whole plain file
    size_t m_nListAOffset = 0;
    size_t m_nListBOffset = 0;
    plat::CriticalSection m_cs;
};

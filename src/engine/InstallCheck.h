// CInstallCheck: compares an installation with a root's manifest (loose
// files and pack entries, by size and SHA-256). Configuration files
// (type 1) belong to the player once installed: a different one is
// reported as changed, never as damaged.
//
// Threads: one object is used by one thread at a time (the caller's).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/RootManifest.h"

// What a check found of one file of the manifest.
enum : int {
    FINDING_MISSING = 0,
    FINDING_DAMAGED = 1,
    FINDING_CHANGED = 2,  // a configuration file the player changed: left alone
};

struct InstallFinding {
    ManifestFile file;
    int kind = FINDING_MISSING;
    bool repaired = false;
};

class CInstallCheck {
public:
    // Called after each file with its list name and the bytes read so far;
    // false stops the check.
    using Tick = std::function<bool(const std::string& name, uint64_t bytesRead)>;

    // Checks every file of the manifest below gameDir (pack paths relative
    // to it too). Appends what is missing, damaged or changed to *findings,
    // in manifest order. false when stopped by tick.
    static bool Run(const std::string& gameDir, const CRootManifest& manifest, const Tick& tick,
                    std::vector<InstallFinding>* findings);
    // Bytes a check reads: the sum of the files' sizes.
    static uint64_t TotalBytes(const CRootManifest& manifest);
    // A finding that needs repair (missing or damaged).
    static bool NeedsRepair(const InstallFinding& f) { return f.kind != FINDING_CHANGED; }
    // The local path of a "\"-separated name below dir.
    static std::string LocalPath(const std::string& dir, const std::string& name);
};

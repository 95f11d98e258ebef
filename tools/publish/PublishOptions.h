// Settings of one varn-publish invocation, filled by CPublishCommandLine and
// read by CPublisher / CInstaller. Plain data, no behaviour.
#pragma once
#include <string>
#include <vector>

// One published game version: its version text and the directory holding
// every file of that version.
struct PublishedVersion {
    std::string version;
    std::string dir;
};

struct PublishOptions {
    std::string outDir;                      // patch root to write
    std::string updateName;                  // name of the update line
    std::string launcherVersion;             // "" leaves the field empty
    std::string primaryVersion;              // "" = the oldest version given
    std::vector<PublishedVersion> versions;  // oldest first
    PublishedVersion minor;                  // version = minor version; empty = none
    std::string launcherDir;                 // "" = no launcher archive
    std::string typeIni;                     // plain type file to scramble; "" = none
    std::vector<std::string> configGlobs;    // files published as type 1
    std::string manifest;                    // per-file update types; "" = none
    std::vector<std::string> packDirs;       // "/"-paths of packs kept as directories
    bool noFull = false;                     // skip the full archive
    bool store = false;                      // store entries instead of deflating
    std::string signKey;                     // PEM private key; "" = unsigned root
};

// "keygen PRIVATE PUBLIC": a new signing key pair.
struct KeygenOptions {
    std::string privateKey;
    std::string publicKey;
};

struct InstallOptions {
    std::string version;
    std::string updateName;
    std::string launcherVersion;
    std::vector<std::string> packDirs;
    std::string sourceDir;
    std::string gameDir;
};

// CRootManifest: the contents list a patch root publishes beside
// versionlist.uvf ("manifest.uvf"): every file of the latest version with
// its size and SHA-256, pack entries with the pack they live in, and the
// SHA-256 of every archive of the root. Clients that do not know it never
// fetch it.
//
// Text, one record a line ("\n" or "\r\n"), fields separated by one tab:
//   VARNMANIFEST 1                                  first line
//   VERSION <version>                               latest version
//   FULL    <archive file name>                     the full archive, if any
//   ARCHIVE <file name> <size> <sha256>             one per archive
//   FILE    <type> <size> <sha256> <name>           loose file, type 0 or 1
//   PACK    <size> <sha256> <pack path> <inner path> pack entry
// Names are relative, "\"-separated, as in the file lists. Lines of other
// kinds are skipped (room for later additions); a known kind with bad
// fields fails the whole read.
//
// Threads: plain data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ManifestArchive {
    std::string name;  // file name in the root ("Full_Varn_1.0.0.3.lbc")
    uint64_t size = 0;
    std::string sha256;
};

struct ManifestFile {
    int type = 0;  // update type of the file lists: 0 normal, 1 configuration, 3 pack
    uint64_t size = 0;
    std::string sha256;
    std::string pack;  // pack path for a pack entry, "" for a loose file
    std::string name;  // loose: path below the game directory; pack: inner path
    // The name a file list gives it ("<pack>\<inner>" for a pack entry).
    std::string ListName() const { return pack.empty() ? name : pack + "\\" + name; }
};

class CRootManifest {
public:
    static constexpr const char* kFileName = "manifest.uvf";

    // Replaces the contents with the text's. false (contents cleared) when
    // the text is not a manifest or a known record is malformed or names an
    // unsafe path (absolute, empty part, "." or "..", a drive).
    bool Parse(const std::string& text);
    std::string Format() const;

    // The archive record of a file name; nullptr when none.
    const ManifestArchive* FindArchive(const std::string& name) const;

    // Whether a relative "\"-separated name stays below its root.
    static bool IsSafeName(const std::string& name);

    std::string version;
    std::string fullArchive;  // "" when the root offers none
    std::vector<ManifestArchive> archives;
    std::vector<ManifestFile> files;
};

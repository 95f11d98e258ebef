// CVersionTree: the files of one published version (or of the launcher),
// found under a directory. Names are kept relative and "/"-separated, sorted
// byte-wise so every output that lists them is deterministic.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TreeFile {
    std::string name;  // relative, "/"-separated
    uint64_t size = 0;
};

class CVersionTree {
public:
    // Scans dir recursively. Throws std::runtime_error for a missing
    // directory, a symbolic link or special file, or a name the launcher
    // could not apply safely (see IsPublishableName).
    explicit CVersionTree(const std::string& dir);

    const std::string& Dir() const { return m_dir; }
    const std::vector<TreeFile>& Files() const { return m_files; }
    // nullptr when the version has no such file.
    const TreeFile* Find(const std::string& name) const;
    std::string LocalPath(const std::string& name) const;
    // SHA-1 hex of the file, computed once and cached.
    const std::string& Hash(const std::string& name) const;

    // True when a relative "/"-name can travel as a "\"-name in a file list:
    // no "\" (it would turn into a separator), no "." / ".." parts, not
    // absolute, and short enough for the 260-byte name field.
    static bool IsPublishableName(const std::string& name);
    // True when both files hold the same bytes. Compares the content itself:
    // the launcher's fingerprint samples large files, so equal fingerprints
    // do not prove equal files. Throws std::runtime_error on a read error.
    static bool SameContent(const std::string& pathA, const std::string& pathB);
    // "a/b" -> "a\b".
    static std::string ToDataName(const std::string& name);

private:
    std::string m_dir;
    std::vector<TreeFile> m_files;
    mutable std::map<std::string, std::string> m_hashes;
};

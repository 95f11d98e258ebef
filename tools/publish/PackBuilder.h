// CPackBuilder: writes a new pack file from loose files. Patches carry pack
// entries this way: the changed files of one pack go into a fresh pack of
// the same relative path, which the launcher merges into the installed one.
#pragma once
#include <string>
#include <vector>

class CPackBuilder {
public:
    // Creates packPath (replacing any file there, parent directories made)
    // holding each local file under its inner name ("/" or "\" separated).
    // files: pairs of local path and inner name. Throws std::runtime_error
    // when the pack cannot be created or a file cannot be added (two inner
    // names equal but for case, for instance: packs ignore case).
    static void Build(const std::string& packPath,
                      const std::vector<std::pair<std::string, std::string>>& files);
};

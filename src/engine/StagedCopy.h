// CStagedCopy: replaces a set of files all together or not at all, so an
// interrupted or failed replacement never leaves an installation half old,
// half new (the launcher's own program files are the case in point: a
// launcher missing its library does not start again).
//
// Stage copies each new file beside its target under a temporary name
// (permission bits kept); Commit then moves every target aside and the new
// files into place, putting every target back when one move fails. The
// object belongs to one thread.
#pragma once
#include <string>
#include <vector>

class CStagedCopy {
public:
    CStagedCopy() = default;
    // Abandons whatever is still staged.
    ~CStagedCopy();
    CStagedCopy(const CStagedCopy&) = delete;
    CStagedCopy& operator=(const CStagedCopy&) = delete;

    // Copies source to a temporary name beside target, creating target's
    // directory. False (last error set; nothing staged) when source cannot
    // be read, target is a directory, or the copy cannot be written.
    bool Stage(const std::string& source, const std::string& target);
    // Moves the staged files over their targets. True when all are in
    // place; false (last error of the failed move set) when one could not
    // be moved, after every target was restored and the staged files
    // removed. Either way nothing is staged afterwards.
    bool Commit();
    // Removes the staged files; the targets stay as they were.
    void Abandon();
    size_t Count() const { return m_files.size(); }

private:
    struct File {
        std::string staged;
        std::string target;
        std::string backup;  // "" when the target did not exist
    };
    void RollBack(size_t movedCount);
    std::vector<File> m_files;
};

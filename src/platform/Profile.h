// Profile (INI) files with the semantics of the Win32 profile functions:
// sections and keys match without regard to case, the first of duplicate
// keys wins, blanks around names and values are trimmed, a value in double
// quotes loses them, lines starting with ";" are comments.
#pragma once
#include <string>
#include <vector>

namespace plat {

// Copies the value (or def when the key, section or file is missing) into
// buf, cut to size-1 characters and zero-terminated. Returns the number of
// characters copied, without the terminator. size 0 copies nothing.
// With key nullptr, copies the section's key names instead (each followed by
// a NUL, the list by a second NUL); with section nullptr, the section names.
unsigned GetPrivateProfileString(const char* section, const char* key, const char* def, char* buf,
                                 unsigned size, const char* path);
// Convenience form returning the whole value.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def, const std::string& path);
// The value's leading decimal digits (an optional sign first), def when the
// key is missing; a value without leading digits gives 0.
int GetPrivateProfileInt(const char* section, const char* key, int def, const char* path);
// Writes one key, keeping the rest of the file as it was; creates the
// section (and the file) when missing. value nullptr deletes the key; key
// nullptr deletes the whole section. Safe to call from several threads.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path);

// One key to write (WritePrivateProfileString's section, key and value,
// never null here).
struct ProfileWrite {
    std::string section, key, value;
};
// Writes every key, in order, as WritePrivateProfileString would, but
// builds the new file once and replaces it once (ReplaceFileContents): the
// file has all the new keys or none of them. Every other line is kept.
// False (last error set) when a name or value is unsafe (nothing written),
// when the file is read-only (5), or when it cannot be replaced.
bool WritePrivateProfileStrings(const std::vector<ProfileWrite>& writes, const std::string& path);

// Parses INI text held in memory (the resource bundle and the base strings
// use it too). Lookups follow the same rules as the file functions.
class ProfileText {
public:
    explicit ProfileText(const std::string& text);
    // nullptr when the key is missing; the pointer lives as long as *this.
    const std::string* Find(const std::string& section, const std::string& key) const;
    // Section names in file order (each once, first spelling).
    std::vector<std::string> Sections() const;
    // Key names of a section in file order (each once, first spelling).
    std::vector<std::string> Keys(const std::string& section) const;

private:
    struct Entry {
        std::string section, key, value;
    };
    std::vector<Entry> m_entries;
    std::vector<std::string> m_sections;
};

}  // namespace plat

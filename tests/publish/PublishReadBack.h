// Reading a published patch root back with the launcher's own readers
// (CUpdateVersion, profile functions, CFileHash) and minizip's unzip.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/UpdateVersion.h"

namespace pubtest {

// Entry name -> content of every entry of a zip archive; empty map when the
// archive cannot be read.
std::map<std::string, std::string> ReadZip(const std::string& path);
std::string ReadFile(const std::string& path);
// Inner name ("\"-separated) -> content of every file of a pack; empty
// when the pack cannot be opened.
std::map<std::string, std::string> ReadPack(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// Unscrambled copy of a scrambled buffer.
std::string Unscramble(std::string data);
// Writes bytes to a scratch file and loads them with CUpdateVersion.
bool LoadVersionBytes(const std::string& scratchPath, const std::string& bytes,
                      CUpdateVersion& out);
std::string Profile(const std::string& path, const char* section, const char* key);
// CFileHash fingerprint of a file as 40 hex digits.
std::string Fingerprint(const std::string& path);

struct ListRow {
    std::string hash, name;
    int type;
    uint32_t size;
};
std::vector<ListRow> FileList(CUpdateVersion& v);

}  // namespace pubtest

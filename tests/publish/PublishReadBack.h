// Reading a published patch root back with the launcher's own readers and
// unzip.
#pragma once
#include <minizip/unzip.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/FileHash.h"
#include "base/UpdaterBase.h"
#include "engine/UpdateVersion.h"
#include "platform/Profile.h"
#include "support/TempDir.h"

namespace pubtest {

using varntest::TempDir;
using Contents = std::map<std::string, std::string>;

inline Contents ReadZip(const std::string& path) {
    Contents out;
    unzFile z = unzOpen64(path.c_str());
    for (int rc = z ? unzGoToFirstFile(z) : UNZ_END_OF_LIST_OF_FILE; rc == UNZ_OK;
         rc = unzGoToNextFile(z)) {
        unz_file_info64 info;
        char name[512] = {};
        unzGetCurrentFileInfo64(z, &info, name, sizeof(name), nullptr, 0, nullptr, 0);
        std::string data(info.uncompressed_size, '\0');
        unzOpenCurrentFile(z);
        int n = unzReadCurrentFile(z, data.data(), static_cast<unsigned>(data.size()));
        unzCloseCurrentFile(z);
        data.resize(n < 0 ? 0 : n);
        out[name] = data;
    }
    if (z)
        unzClose(z);
    return out;
}

inline std::string Profile(const std::string& path, const char* section, const char* key) {
    char buf[261] = {};
    plat::GetPrivateProfileString(section, key, "", buf, sizeof(buf), path.c_str());
    return buf;
}

inline std::string Fingerprint(const std::string& path) {
    CFileHash h;
    h.Reset();
    if (!h.HashFile(path.c_str()))
        return "";
    h.Final();
    char hex[96] = {};
    h.ReportHash(hex, REPORT_HEX);
    return hex;
}

struct ListRow {
    std::string hash, name;
    int type;
    uint32_t size;
};
inline std::vector<ListRow> FileList(CUpdateVersion& v) {
    uint32_t n = 0;
    const UpdateFileEntry* e = v.GetFileList(&n);
    std::vector<ListRow> rows;
    for (uint32_t i = 0; i < n; ++i)
        rows.push_back({e[i].szHash, e[i].szFileName, e[i].byUpdateType, e[i].nFileSize});
    return rows;
}

}  // namespace pubtest

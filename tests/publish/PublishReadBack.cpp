#include "PublishReadBack.h"

#include <minizip/unzip.h>

#include <fstream>
#include <sstream>

#include "archive/FileHash.h"
#include "pack/PackFile.h"
#include "platform/Profile.h"
#include "updatemodule/UpdaterBase.h"

namespace pubtest {

std::map<std::string, std::string> ReadZip(const std::string& path) {
    std::map<std::string, std::string> out;
    unzFile z = unzOpen64(path.c_str());
    if (!z) {
        return out;
    }
    for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
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
    unzClose(z);
    return out;
}

std::map<std::string, std::string> ReadPack(const std::string& path) {
    std::map<std::string, std::string> out;
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, PACK_MODE_READ)) {
        return out;
    }
    std::vector<std::string> names;
    pack.ForEachFile([&](const std::string& name, uint64_t) { names.push_back(name); });
    for (const std::string& name : names) {
        PackSubFile* f = pack.OpenFile(name.c_str(), 1);
        std::string data(f ? CPackFile::GetSubFileSize(f) : 0, '\0');
        if (f && !data.empty() && !pack.ReadFile(f, data.data(), data.size())) {
            data = "<unreadable>";
        }
        if (f) {
            pack.CloseFile(f);
        }
        out[name] = data;
    }
    pack.Close();
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string Unscramble(std::string data) {
    ScrambleBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
    return data;
}

bool LoadVersionBytes(const std::string& scratchPath, const std::string& bytes,
                      CUpdateVersion& out) {
    WriteFile(scratchPath, bytes);
    out.SetPath(scratchPath.c_str());
    return out.LoadUpdateVersion();
}

std::string Profile(const std::string& path, const char* section, const char* key) {
    char buf[261] = {};
    plat::GetPrivateProfileString(section, key, "", buf, sizeof(buf), path.c_str());
    return buf;
}

std::string Fingerprint(const std::string& path) {
    CFileHash h;
    h.Reset();
    if (!h.HashFile(path.c_str())) {
        return "";
    }
    h.Final();
    char hex[96] = {};
    h.ReportHash(hex, REPORT_HEX);
    return hex;
}

std::vector<ListRow> FileList(CUpdateVersion& v) {
    uint32_t n = 0;
    const UpdateFileEntry* e = v.GetFileList(&n);
    std::vector<ListRow> rows;
    for (uint32_t i = 0; i < n; ++i) {
        rows.push_back({e[i].szHash, e[i].szFileName, e[i].byUpdateType, e[i].nFileSize});
    }
    return rows;
}

}  // namespace pubtest

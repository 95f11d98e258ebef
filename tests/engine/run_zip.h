// Hand-made patch archives for the run tests: a stored zip of the given
// entries, and the versionlist.uvf section that describes it.
#pragma once
#include <minizip/zip.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/FileHash.h"
#include "platform/File.h"

namespace varntest {

using ZipEntries = std::vector<std::pair<std::string, std::string>>;  // name, content

inline bool MakeZip(const std::string& path, const ZipEntries& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const auto& [name, content] : entries) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         0, 0, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, content.data(),
                                       static_cast<unsigned>(content.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

inline std::string Fingerprint(const std::string& path) {
    CFileHash hash;
    hash.HashFile(path.c_str());
    hash.Final();
    char text[48] = {};
    hash.ReportHash(text, REPORT_HEX);
    return text;
}

// "[<file name>]" with FILESIZE, FILECOUNT, GUID of the archive at path.
inline std::string ArchiveSection(const std::string& path, const std::string& fileName,
                                  int fileCount) {
    uint64_t size = 0;
    plat::GetFileSize(path, size);
    return "[" + fileName + "]\nFILESIZE=" + std::to_string(size) +
           "\nFILECOUNT=" + std::to_string(fileCount) + "\nGUID=" + Fingerprint(path) +
           "\nNOTCOMPRESSSIZE=100\n";
}

}  // namespace varntest

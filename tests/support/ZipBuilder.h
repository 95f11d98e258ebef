// Writes small zip archives for tests with the zip library's own writer, so
// names can be anything a hostile archive could hold. Header-only: the test
// executable using it links the zip library.
#pragma once
#include <minizip/zip.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace varntest {

struct ZipItem {
    std::string name;
    std::string data;
    int method = 8;  // 0 stored, 8 deflated
    bool directory = false;
    unsigned unixMode = 0;  // permission bits recorded as made on Unix; 0 none
};

inline void WriteZip(const std::string& path, const std::vector<ZipItem>& items) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zf == nullptr)
        throw std::runtime_error("zipOpen64 failed");
    for (const ZipItem& item : items) {
        zip_fileinfo zi{};
        zi.tmz_date = {30, 15, 10, 9, 2, 2007};  // 2007-03-09 10:15:30
        zi.external_fa = item.directory ? 0x10 : 0x20;
        uLong madeBy = 0;
        if (item.unixMode != 0) {
            madeBy = (3u << 8) | 20u;
            zi.external_fa |= static_cast<uLong>(0100000u | item.unixMode) << 16;
        }
        if (zipOpenNewFileInZip4_64(zf, item.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                    item.method, item.method ? 6 : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, 0) != ZIP_OK ||
            zipWriteInFileInZip(zf, item.data.data(), static_cast<unsigned>(item.data.size())) !=
                ZIP_OK ||
            zipCloseFileInZip(zf) != ZIP_OK) {
            zipClose(zf, nullptr);
            throw std::runtime_error("writing zip entry failed");
        }
    }
    zipClose(zf, nullptr);
}

}  // namespace varntest

#include "FileDigest.h"

#include <stdexcept>

#include "archive/FileHash.h"

std::string CFileDigest::HashFile(const std::string& path) {
    // Must be the launcher's own hasher: it samples large files, so a plain
    // SHA-1 would differ from what the launcher computes for them.
    CFileHash hash;
    hash.Reset();
    if (!hash.HashFile(path.c_str())) {
        throw std::runtime_error("cannot read " + path);
    }
    hash.Final();
    char hex[96] = {};
    hash.ReportHash(hex, REPORT_HEX);
    return hex;
}

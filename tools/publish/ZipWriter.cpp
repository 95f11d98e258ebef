#include "ZipWriter.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr size_t kChunk = 1 << 16;

// A fixed, valid DOS time (2000-01-01 00:00:00) for every entry.
zip_fileinfo FixedInfo() {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2000;
    info.tmz_date.tm_mon = 0;
    info.tmz_date.tm_mday = 1;
    info.dosDate = 0;
    return info;
}

}  // namespace

CZipWriter::CZipWriter(const std::string& path, bool store) : m_path(path), m_bStore(store) {
    m_zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!m_zip) {
        throw std::runtime_error("cannot create archive " + path);
    }
}

CZipWriter::~CZipWriter() {
    if (m_zip) {
        zipClose(static_cast<zipFile>(m_zip), nullptr);
    }
}

void CZipWriter::OpenEntry(const std::string& entryName, uint64_t size, unsigned unixMode) {
    zip_fileinfo info = FixedInfo();
    // "Made by" a Unix system, with the file type and permissions in the
    // high half of the external attributes, is how unzippers learn modes.
    uLong madeBy = 0;
    if (unixMode != 0) {
        madeBy = (3u << 8) | 20u;
        info.external_fa = static_cast<uLong>((0100000u | (unixMode & 0777u)) << 16);
    }
    // Zip64 records only where the classic fields cannot hold the size, so
    // ordinary archives stay readable by any unzip.
    int zip64 = size >= 0xFFFFFFFFull ? 1 : 0;
    const int method = m_bStore ? 0 : Z_DEFLATED;
    const int level = m_bStore ? 0 : Z_DEFAULT_COMPRESSION;
    int rc =
        zipOpenNewFileInZip4_64(static_cast<zipFile>(m_zip), entryName.c_str(), &info, nullptr, 0,
                                nullptr, 0, nullptr, method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, zip64);
    if (rc != ZIP_OK) {
        throw std::runtime_error("cannot add " + entryName + " to " + m_path);
    }
}

void CZipWriter::CloseEntry(const std::string& entryName) {
    if (zipCloseFileInZip(static_cast<zipFile>(m_zip)) != ZIP_OK) {
        throw std::runtime_error("cannot finish " + entryName + " in " + m_path);
    }
    ++m_nEntries;
}

void CZipWriter::AddFile(const std::string& localPath, const std::string& entryName) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(localPath.c_str(), "rb"), &std::fclose);
    if (!f) {
        throw std::runtime_error("cannot read " + localPath);
    }
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(localPath, ec);
    if (ec) {
        throw std::runtime_error("cannot read " + localPath);
    }
    const auto perms = std::filesystem::status(localPath, ec).permissions();
    OpenEntry(entryName, size, ec ? 0644u : static_cast<unsigned>(perms) & 0777u);
    std::vector<char> buf(kChunk);
    uint64_t total = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
        if (zipWriteInFileInZip(static_cast<zipFile>(m_zip), buf.data(),
                                static_cast<unsigned>(n)) != ZIP_OK) {
            throw std::runtime_error("cannot write " + entryName + " to " + m_path);
        }
        total += n;
    }
    if (std::ferror(f.get())) {
        throw std::runtime_error("read error in " + localPath);
    }
    CloseEntry(entryName);
    m_nUnpacked += total;
}

void CZipWriter::AddData(const std::string& entryName, const void* data, size_t size) {
    OpenEntry(entryName, size);
    const char* p = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        unsigned n = static_cast<unsigned>(std::min(kChunk, size - done));
        if (zipWriteInFileInZip(static_cast<zipFile>(m_zip), p + done, n) != ZIP_OK) {
            throw std::runtime_error("cannot write " + entryName + " to " + m_path);
        }
        done += n;
    }
    CloseEntry(entryName);
    m_nUnpacked += size;
}

void CZipWriter::Close() {
    zipFile z = static_cast<zipFile>(m_zip);
    m_zip = nullptr;
    if (zipClose(z, nullptr) != ZIP_OK) {
        throw std::runtime_error("cannot finish archive " + m_path);
    }
}

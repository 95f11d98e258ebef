#include "archive/ZipReader.h"

#include <minizip/unzip.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/File.h"
#include "platform/Path.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kMethodStored = 0;
constexpr int kMethodDeflated = 8;

unzFile Zip(void* handle) {
    return static_cast<unzFile>(handle);
}

// minizip's codes onto the table's. A damaged header or CRC is a corrupt
// archive, a failed read of the archive a read error, and a failed inflate
// counts as a failed write of the entry.
uint32_t MapUnzError(int err) {
    switch (err) {
        case UNZ_OK:
            return ZIP_OK;
        case UNZ_ERRNO:
            return ZIP_ERR_READ;
        case UNZ_END_OF_LIST_OF_FILE:
            return ZIP_ERR_NOT_FOUND;
        case UNZ_PARAMERROR:
            return ZIP_ERR_ARGS;
        case UNZ_BADZIPFILE:
        case UNZ_CRCERROR:
            return ZIP_ERR_CORRUPT;
        case UNZ_INTERNALERROR:
            return ZIP_ERR_FLATE;
        case Z_MEM_ERROR:
            return ZIP_ERR_NO_ALLOC;
        default:  // Z_DATA_ERROR, Z_STREAM_ERROR, Z_BUF_ERROR
            return ZIP_ERR_WRITE;
    }
}

// Entry times are stored as local broken-down time.
int64_t ToUnixTime(const tm_unz& t) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(t.tm_year) - 1900;
    tm.tm_mon = static_cast<int>(t.tm_mon);
    tm.tm_mday = static_cast<int>(t.tm_mday);
    tm.tm_hour = static_cast<int>(t.tm_hour);
    tm.tm_min = static_cast<int>(t.tm_min);
    tm.tm_sec = static_cast<int>(t.tm_sec);
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

bool IsDirectoryEntry(const unz_file_info64& fi, const char* name, size_t len) {
    if (len > 0 && (name[len - 1] == '/' || name[len - 1] == '\\'))
        return true;
    if ((fi.external_fa & ZIP_ATTR_DIRECTORY) != 0)
        return true;
    const uint32_t unixMode = static_cast<uint32_t>(fi.external_fa >> 16);
    return (fi.version >> 8) == 3 && (unixMode & 0170000) == 0040000;
}

fs::path Resolve(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path() : p;
}

// The zip library refuses an archive without entries, which is only an
// end-of-central-directory record (and its comment). Patch archives can be
// empty, so that one shape is recognised here.
bool IsEmptyArchive(const std::string& path) {
    constexpr size_t kRecord = 22;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    unsigned char r[kRecord];
    const bool read = std::fread(r, 1, kRecord, f) == kRecord;
    const bool seek = std::fseek(f, 0, SEEK_END) == 0;
    const long size = seek ? std::ftell(f) : -1;
    std::fclose(f);
    if (!read || size < 0)
        return false;
    static const unsigned char kSignature[4] = {'P', 'K', 5, 6};
    for (size_t i = 0; i < 4; ++i)
        if (r[i] != kSignature[i])
            return false;
    for (size_t i = 4; i < 20; ++i)  // disks, entry counts, directory size and offset
        if (r[i] != 0)
            return false;
    const size_t comment = r[20] | (static_cast<size_t>(r[21]) << 8);
    return static_cast<size_t>(size) == kRecord + comment;
}

}  // namespace

CZipReader::~CZipReader() {
    Close();
}

bool CZipReader::Open(const std::string& archivePath, const std::string& rootDir) {
    Close();
    m_zip = unzOpen64(archivePath.c_str());
    m_bEmpty = m_zip == nullptr && IsEmptyArchive(archivePath);
    if (m_zip == nullptr && !m_bEmpty)
        return false;
    m_root = Resolve(rootDir).string();
    m_current = -1;
    return true;
}

void CZipReader::Close() {
    if (m_zip != nullptr)
        unzClose(Zip(m_zip));
    m_zip = nullptr;
    m_bEmpty = false;
    m_current = -1;
}

uint32_t CZipReader::Seek(int index) {
    if (index < 0)
        return ZIP_ERR_NOT_FOUND;
    if (m_current < 0 || index < m_current) {
        const int err = unzGoToFirstFile(Zip(m_zip));
        if (err != UNZ_OK)
            return MapUnzError(err == UNZ_END_OF_LIST_OF_FILE ? UNZ_BADZIPFILE : err);
        m_current = 0;
    }
    while (m_current < index) {
        const int err = unzGoToNextFile(Zip(m_zip));
        if (err != UNZ_OK) {
            m_current = -1;
            return MapUnzError(err);
        }
        ++m_current;
    }
    return ZIP_OK;
}

uint32_t CZipReader::GetEntry(int index, ZIP_ENTRY_INFO& info) {
    info = ZIP_ENTRY_INFO();
    if (m_bEmpty)
        return index == -1 ? ZIP_OK : ZIP_ERR_NOT_FOUND;
    if (m_zip == nullptr)
        return ZIP_ERR_ARGS;
    if (index == -1) {
        unz_global_info64 gi{};
        const int err = unzGetGlobalInfo64(Zip(m_zip), &gi);
        if (err != UNZ_OK)
            return MapUnzError(err);
        if (gi.number_entry > 0x7FFFFFFF)
            return ZIP_ERR_CORRUPT;
        info.index = static_cast<int32_t>(gi.number_entry);
        return ZIP_OK;
    }
    if (const uint32_t err = Seek(index))
        return err;
    unz_file_info64 fi{};
    char name[sizeof info.name + 1] = {};
    const int err =
        unzGetCurrentFileInfo64(Zip(m_zip), &fi, name, sizeof name, nullptr, 0, nullptr, 0);
    if (err != UNZ_OK)
        return MapUnzError(err);
    info.index = index;
    std::memcpy(info.name, name, sizeof info.name - 1);
    info.modifiedTime = ToUnixTime(fi.tmu_date);
    info.compressedSize = fi.compressed_size;
    info.uncompressedSize = fi.uncompressed_size;
    const size_t len = fi.size_filename;
    info.attributes = static_cast<uint32_t>(fi.external_fa & 0xFF);
    if ((fi.version >> 8) == 3)
        info.unixMode = static_cast<uint32_t>(fi.external_fa >> 16) & 07777;
    if (IsDirectoryEntry(fi, name, len < sizeof name ? len : 0))
        info.attributes |= ZIP_ATTR_DIRECTORY;
    // A cut or NUL-bearing name would be extracted under a different name
    // than the one stored.
    if (len >= sizeof info.name || std::strlen(name) != len)
        return ZIP_ERR_UNSAFE_NAME;
    return ZIP_OK;
}

bool CZipReader::IsBelowRoot(const std::string& path) const {
    const fs::path resolved = Resolve(path);
    if (resolved.empty() || m_root.empty())
        return false;
    const fs::path rel = resolved.lexically_relative(m_root);
    if (rel.empty() || rel == ".")
        return false;
    return *rel.begin() != "..";
}

uint32_t CZipReader::Extract(int index, const std::string& targetPath) {
    ZIP_ENTRY_INFO info;
    if (const uint32_t err = GetEntry(index, info))
        return err;
    // Refuse names that are absolute or climb, and then check where the
    // target really resolves to (an existing symlink could lead elsewhere).
    if (!plat::IsSafeRelativeName(info.name))
        return ZIP_ERR_UNSAFE_NAME;
    const bool isDirectory = (info.attributes & ZIP_ATTR_DIRECTORY) != 0;
    // A directory entry "./" names the root itself, which exists.
    if (isDirectory && Resolve(targetPath) == fs::path(m_root))
        return ZIP_OK;
    if (!IsBelowRoot(targetPath))
        return ZIP_ERR_UNSAFE_NAME;
    if (isDirectory)
        return ExtractDirectory(targetPath);
    return ExtractRegular(info, targetPath);
}

uint32_t CZipReader::ExtractDirectory(const std::string& targetPath) {
    std::string dir = targetPath;
    while (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    return plat::CreateDirectoryChain(dir) ? ZIP_OK : ZIP_ERR_NO_FILE;
}

uint32_t CZipReader::ExtractRegular(const ZIP_ENTRY_INFO& info, const std::string& targetPath) {
    const std::string parent = plat::DirName(targetPath);
    if (!parent.empty() && !plat::CreateDirectoryChain(parent))
        return ZIP_ERR_NO_FILE;
    // The parent now exists: check again, it could have been a symlink.
    if (!IsBelowRoot(targetPath))
        return ZIP_ERR_UNSAFE_NAME;
    if (plat::IsDirectory(targetPath))
        return ZIP_ERR_NO_FILE;

    const std::string temp = targetPath + ".varn-part";
    uint32_t err = InflateTo(temp);
    if (err == ZIP_OK) {
        plat::SetFileTime(temp, info.modifiedTime);
        if ((info.unixMode & 0111) != 0 && !plat::SetExecutable(temp))
            err = ZIP_ERR_WRITE;
        if (err == ZIP_OK && !plat::MoveFile(temp, targetPath))
            err = ZIP_ERR_NO_FILE;
    }
    if (err != ZIP_OK)
        plat::DeleteFile(temp);
    return err;
}

uint32_t CZipReader::InflateTo(const std::string& tempPath) {
    unz_file_info64 fi{};
    int zerr = unzGetCurrentFileInfo64(Zip(m_zip), &fi, nullptr, 0, nullptr, 0, nullptr, 0);
    if (zerr != UNZ_OK)
        return MapUnzError(zerr);
    // Encrypted entries and methods other than stored and deflated cannot be
    // unpacked here.
    if ((fi.flag & 1) != 0 ||
        (fi.compression_method != kMethodStored && fi.compression_method != kMethodDeflated))
        return ZIP_ERR_CORRUPT;

    // "x": never write through a file or link already at the temporary name.
    std::FILE* out = std::fopen(tempPath.c_str(), "wbx");
    if (out == nullptr && plat::DeleteFile(tempPath))
        out = std::fopen(tempPath.c_str(), "wbx");
    if (out == nullptr)
        return ZIP_ERR_NO_FILE;

    zerr = unzOpenCurrentFile(Zip(m_zip));
    if (zerr != UNZ_OK) {
        std::fclose(out);
        return MapUnzError(zerr);
    }
    std::unique_ptr<char[]> buf(new char[kChunk]);
    uint32_t err = ZIP_OK;
    for (;;) {
        const int n = unzReadCurrentFile(Zip(m_zip), buf.get(), kChunk);
        if (n < 0)
            err = MapUnzError(n);
        if (n <= 0)
            break;
        if (std::fwrite(buf.get(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
            err = ZIP_ERR_WRITE;
            break;
        }
    }
    // Closing checks the CRC once the whole entry was read.
    const int closeErr = unzCloseCurrentFile(Zip(m_zip));
    if (err == ZIP_OK && closeErr != UNZ_OK)
        err = MapUnzError(closeErr);
    if (std::fclose(out) != 0 && err == ZIP_OK)
        err = ZIP_ERR_WRITE;
    return err;
}

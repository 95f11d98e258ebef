// The download plan: which archives lead from the installed version to the
// latest one, their planned sizes, and the name of the next archive.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"

namespace {

constexpr const char* kListSection = "VERSIONLIST";
constexpr const char* kArchiveExt = "lbc";

// A 64-bit decimal key read as text. The server is outside our control: a
// negative or garbled value counts as 0 rather than as a huge unsigned size.
uint64_t ReadSize(const char* section, const char* key, const std::string& path) {
    char text[260] = {};
    plat::GetPrivateProfileString(section, key, "0", text, sizeof(text), path.c_str());
    const long long value = std::strtoll(text, nullptr, 10);
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

std::string ReadString(const char* section, const char* key, const std::string& path) {
    char text[260] = {};
    plat::GetPrivateProfileString(section, key, "", text, sizeof(text), path.c_str());
    return text;
}

std::string VersionKey(int index) {
    char key[32];
    std::snprintf(key, sizeof(key), "VERSION%d", index);
    return key;
}

// Adds one archive's section to the record and the caller's sums; weight 2
// for archives that are unpacked and then applied, 1 for the full archive.
void AddSection(UPDATE_CALLBACK_INFO* info, const std::string& section, int weight,
                const std::string& path, uint64_t* downloadSize, int* fileCount) {
    const uint64_t fileSize = ReadSize(section.c_str(), "FILESIZE", path);
    const int count = plat::GetPrivateProfileInt(section.c_str(), "FILECOUNT", 0, path.c_str());
    const uint64_t unpacked = ReadSize(section.c_str(), "NOTCOMPRESSSIZE", path);
    info->nTotalSize += fileSize + unpacked * static_cast<uint64_t>(weight);
    info->nFileCount += count * weight;
    *downloadSize += fileSize;
    *fileCount += count;
}

}  // namespace

std::string CFileUpdater::VersionListPath() const {
    return plat::JoinPath(m_szUpdatePath, "versionlist.uvf");
}

void CFileUpdater::FormatDownloadSize(uint64_t size, char* out, size_t outSize) {
    const double value = static_cast<double>(size);
    if (size < 1024ULL)
        std::snprintf(out, outSize, "%.2f Byte", value);
    else if (size < 1048576ULL)
        std::snprintf(out, outSize, "%.2f KB", value / 1024.0);
    else if (size < 1073741824ULL)
        std::snprintf(out, outSize, "%.2f MB", value / 1048576.0);
    else
        std::snprintf(out, outSize, "%.2f GB", value / 1073741824.0);
}

int CFileUpdater::PrepareDownloadPlan() {
    const char* remote = "versionlist.uvf";
    const std::string local = VersionListPath();
    if (!m_pProtocol || !FetchRootFile(remote, local.c_str())) {
        const uint32_t error = plat::GetLastError();
        // A refused signature has said why already.
        if (m_bRootFileRefused)
            return 4;
        UpdateLog("UPDATE_VERSION_LIST Down Failed %s\n", remote);
        RecordStringError(static_cast<int>(error), IDS_DOWNLOAD_PLAN_FAIL, kStringBuffer,
                          CUSTOM_ERROR_DOWNLOAD_PLAN);
        if (!StopSignalled())
            SendLogMail();
        return 4;
    }

    uint64_t downloadSize = 0;
    int fileCount = 0;
    const int planned =
        GetVersionFileInformation(&CallbackInfo(), m_szLocalVersion, &downloadSize, &fileCount);
    char sizeText[64];
    FormatDownloadSize(downloadSize, sizeText, sizeof(sizeText));
    UpdateLog("Update Start Version Major %s Minor %s\n", m_szLocalVersion, m_szLocalMinorVersion);
    UpdateLog("Total Update File : DownloadSize %s Count %d\n", sizeText,
              CallbackInfo().nFileCount);
    return planned == 1 ? 1 : 6;
}

int CFileUpdater::GetVersionFileInformation(UPDATE_CALLBACK_INFO* info, const char* localVersion,
                                            uint64_t* downloadSize, int* fileCount) {
    const std::string path = VersionListPath();
    UpdateLog("[CFileUpdater::GetVersionFileInformation()] m_szMajorUpdateVersion is %s\n",
              localVersion);
    info->nFileCount = 0;
    info->nTotalSize = 0;
    std::string from = localVersion;

    const uint64_t fullSize = ReadSize(kListSection, "FULLVERSIONSIZE", path);
    UpdateLog("FULLVERSIONSIZE : %" PRId64 "\n", static_cast<int64_t>(fullSize));

    const std::string minor = ReadString(kListSection, "MINORVERSION", path);
    if (!minor.empty()) {
        UpdateLog("MINORVERSION string size is better than 0\n => Version : %s\n", minor.c_str());
        const std::string section =
            std::string("minor_to_") + m_szLatestVersion + "_of_" + minor + "." + kArchiveExt;
        AddSection(info, section, 2, path, downloadSize, fileCount);
    }

    if (m_nUpdateKind == UPDATE_FULL_VERSION) {
        UpdateLog(
            "[CFileUpdater::GetVersionFileInformation()] m_btUpdateVersion is "
            "UPDATE_FULL_VERSION\n");
        if (fullSize == 0) {
            UpdateLog("[CFileUpdater::GetVersionFileInformation()] dw64FullVersionSize is 0\n");
            return 0;
        }
        const std::string section =
            std::string("Full_") + m_szNewUpdateName + "_" + m_szLatestVersion + "." + kArchiveExt;
        AddSection(info, section, 1, path, downloadSize, fileCount);
        return 1;
    }

    // The list runs newest first; walk it oldest first and add every step
    // after the one that starts at the installed version.
    const int count = plat::GetPrivateProfileInt(kListSection, "VERSIONCOUNT", 0, path.c_str());
    bool found = false;
    for (int i = count - 1; i >= 0; --i) {
        const std::string version = ReadString(kListSection, VersionKey(i).c_str(), path);
        if (version.empty())
            return 1;
        if (found) {
            const std::string section = from + "_to_" + version + "." + kArchiveExt;
            AddSection(info, section, 2, path, downloadSize, fileCount);
            from = version;
        } else {
            found = version == from;
        }
    }

    // A chain bigger than the full archive is replaced by it, whatever the
    // host's full-download setting: that setting only governs a full update
    // that becomes necessary after an archive has been applied.
    if (fullSize != 0 && *downloadSize > fullSize) {
        UpdateLog("UPDATE_FULL_VERSION Setting 1\n");
        m_nUpdateKind = UPDATE_FULL_VERSION;
        *downloadSize = 0;
        *fileCount = 0;
        return GetVersionFileInformation(info, localVersion, downloadSize, fileCount);
    }
    return 1;
}

int CFileUpdater::SetFtpVersionFileName() {
    m_bArchiveNamed = false;
    if (m_nUpdateKind == UPDATE_FULL_VERSION) {
        std::snprintf(m_szUpdateFileName, sizeof(m_szUpdateFileName), "Full_%s_%s",
                      m_szNewUpdateName, m_szLatestVersion);
        m_bArchiveNamed = true;
        return 1;
    }
    if (m_nUpdateKind == UPDATE_MINOR_VERSION) {
        std::snprintf(m_szUpdateFileName, sizeof(m_szUpdateFileName), "minor_to_%s_of_%s",
                      m_szLatestVersion, m_szNewMinorVersion);
        m_bArchiveNamed = true;
        return 1;
    }

    const std::string path = VersionListPath();
    const int count = plat::GetPrivateProfileInt(kListSection, "VERSIONCOUNT", 0, path.c_str());
    bool found = false;
    for (int i = count - 1; i >= 0; --i) {
        const std::string version = ReadString(kListSection, VersionKey(i).c_str(), path);
        if (version.empty())
            return 1;  // base name unchanged; the loop sees m_bArchiveNamed
        if (found) {
            std::snprintf(m_szUpdateFileName, sizeof(m_szUpdateFileName), "%s_to_%s",
                          m_szLocalVersion, version.c_str());
            m_bArchiveNamed = true;
            return 1;
        }
        found = version == m_szLocalVersion;
    }

    RecordStringError(0, IDS_ARCHIVE_NAME_FAIL, kStringBuffer, CUSTOM_ERROR_ARCHIVE_NAME);
    UpdateLog("SetFtpVersionFileName Failed MajorVersion %s MinorVersion %s\n", m_szLocalVersion,
              m_szLocalMinorVersion);
    return 0;
}

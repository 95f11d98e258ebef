// The patch run: update.uvf, the archive loop, one archive, the manual archive.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/ZipExtractor.h"
#include "base/TransferErrors.h"
#include "engine/FileUpdater.h"
#include "engine/ResourceText.h"
#include "engine/TransferExtractHost.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "platform/Thread.h"

namespace {

constexpr const char* kArchiveExt = "lbc";

std::string ArchiveFileName(const char* baseName) {
    return std::string(baseName) + "." + kArchiveExt;
}

}  // namespace

plat::ResourceHandle CFileUpdater::ResourceHandle() {
    return m_pProtocol ? m_pProtocol->GetResourceHandle() : nullptr;
}

void CFileUpdater::RecordStringError(int errorCode, unsigned stringId, int bufferSize,
                                     int customCode, std::initializer_list<const char*> args) {
    const std::string text = LoadFormattedString(ResourceHandle(), stringId, bufferSize, args);
    SetLastErrorMsg(ERROR_KIND_CUSTOM, errorCode, text.c_str(), customCode);
}

bool CFileUpdater::StopSignalled() {
    if (!m_pProtocol) {
        plat::SuspendPoint();
        return false;
    }
    return !plat::RunCheckPoint(m_pProtocol->GetStopEvent());
}

int CFileUpdater::ExtractFile(const char* archive, const char* outdir, int count, int deleteAfter,
                              int countFromArchive) {
    CTransferExtractHost host(m_pProtocol.get());
    CZipExtractor extractor(*this, host);
    return extractor.ExtractFile(archive, outdir, count, deleteAfter, countFromArchive);
}

int CFileUpdater::DownLoadUpdateFile() {
    const char* remote = "update.uvf";
    const std::string local = plat::JoinPath(m_szUpdatePath, remote);
    UpdateLog("CFileUpdater::DownLoadUpdateFile()  szPath : %s \n", local.c_str());
    if (!m_pProtocol)
        return 0;
    InstallStopEvent();
    UpdateLog("CFileUpdater::DownLoadUpdateFile() szRemotePath : %s \n", remote);
    const int result = LoadPublisherKey() && FetchRootFile(remote, local.c_str());
    ReleaseStopEvent();
    return result;
}

int CFileUpdater::UpdateProcess() {
    const std::string soundPack = plat::JoinDataPath(m_szDefaultPath, "Data\\Sound\\Sound.lpk");
    CPackFile::RepairSignature(soundPack.c_str());

    const char* remote = "update.uvf";
    const std::string local = plat::JoinPath(m_szUpdatePath, remote);
    std::memset(&CallbackInfo(), 0, sizeof(UPDATE_CALLBACK_INFO));
    ReleaseStopEvent();
    InstallStopEvent();
    if (!LoadPublisherKey() || !m_pProtocol || !FetchRootFile(remote, local.c_str()))
        return RUN_UPDATE_FILE_FAILED;
    // A signed root is checked before anything is decided from it.
    if (HasPublisherKey() && !FetchRootManifest())
        return RUN_UPDATE_FILE_FAILED;

    ClearVersionRecords();
    if (m_nKBT_USA == 0 && CheckLauncherVersion(local.c_str()) == 0)
        return HasHandOver() ? RUN_LAUNCHER_UPDATED : RUN_LAUNCHER_FAILED;

    int upToDate = CheckUpdateListVersion();
    if (upToDate == 0) {
        const int planned = PrepareDownloadPlan();
        if (planned != 1)
            return planned;
    }

    // The first decision is always carried out, a full update included: that
    // is how a missing or damaged installation record heals.
    while (!StopSignalled() && upToDate == 0) {
        if (SetFtpVersionFileName() == 0)
            return RUN_ARCHIVE_NAME_FAILED;
        if (!m_bArchiveNamed) {
            // The list ends before the step after the installed version: the
            // base name still names the archive just applied, and fetching it
            // again would only repeat it. Nothing more can be done this run.
            UpdateLog("SetFtpVersionFileName No Next Archive After %s\n", m_szLocalVersion);
            break;
        }
        const std::string before = std::string(m_szLocalVersion) + "|" + m_szLocalMinorVersion;
        const int kindBefore = m_nUpdateKind;
        if (PatchOneArchive() == 0)
            return RUN_PATCH_FAILED;
        m_nGetLast = 0;
        m_nManualVersion = 0;
        upToDate = CheckUpdateListVersion();
        // Only a full update that another update still needs after this
        // archive is left to the host's setting; a full archive that has just
        // brought the game up to date is a success.
        if (upToDate == 0 && m_nUpdateKind == UPDATE_FULL_VERSION && m_nFullVersionDownload == 0)
            return RUN_FULL_VERSION_NEEDED;
        if (upToDate == 0 && kindBefore == m_nUpdateKind &&
            before == std::string(m_szLocalVersion) + "|" + m_szLocalMinorVersion) {
            // The archive did not move the installation record on (a wrongly
            // published file list); the same archive would follow for ever.
            const std::string target = plat::JoinPath(m_szUpdatePath, "version.uvf");
            UpdateLog("Version Not Advanced By %s (%s)\n", m_szUpdateFileName, m_szLocalVersion);
            RecordStringError(0, IDS_VERSION_COPY, kStringBuffer, CUSTOM_ERROR_VERSION_COPY,
                              {target.c_str()});
            return RUN_PATCH_FAILED;
        }
    }
    plat::DeleteFile(VersionListPath());
    return RUN_OK;
}

int CFileUpdater::DownloadArchive(const char* archivePath, bool continuing) {
    const std::string remote = ArchiveFileName(m_szUpdateFileName);
    if (m_pProtocol && FetchFile(remote.c_str(), archivePath, continuing))
        return 1;
    UpdateLog("Version File Down Failed %s\n", remote.c_str());
    const int code = GetLastErrorCode();
    // After these the server's own reply is worth a look: an error of the
    // server's, or an FTP control connection it closed.
    if (m_pProtocol && (code == static_cast<int>(TRANSFER_ERROR_EXTENDED) ||
                        code == static_cast<int>(TRANSFER_ERROR_FTP_DROPPED))) {
        char response[1024] = "";
        uint32_t extended = 0;
        GetLastResponseText(&extended, response, sizeof(response));
        UpdateLog("ERROR_INTERNET_EXTENDED_ERROR %s\n", response);
        // The server closed its control connection: one reconnect, one retry.
        if (std::strstr(response, "421") != nullptr && m_pProtocol->Connect() &&
            FetchFile(remote.c_str(), archivePath, continuing))
            return 1;
    }
    RecordStringError(0, IDS_ARCHIVE_DOWNLOAD, kStringBufferLong, CUSTOM_ERROR_ARCHIVE_DOWNLOAD);
    if (!StopSignalled())
        SendLogMail();
    return 0;
}

int CFileUpdater::PatchOneArchive() {
    const std::string section = ArchiveFileName(m_szUpdateFileName);
    const std::string list = VersionListPath();
    char text[260] = {};
    plat::GetPrivateProfileString(section.c_str(), "FILESIZE", "0", text, sizeof(text),
                                  list.c_str());
    const uint64_t listedSize = std::strtoull(text, nullptr, 10);
    const int fileCount = plat::GetPrivateProfileInt(section.c_str(), "FILECOUNT", 0, list.c_str());
    char guid[41] = {};
    plat::GetPrivateProfileString(section.c_str(), "GUID", "", guid, sizeof(guid), list.c_str());

    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    CopyText(info.szMajorVersion, sizeof(info.szMajorVersion), m_szLocalVersion);
    CopyText(info.szMinorVersion, sizeof(info.szMinorVersion), m_szLocalMinorVersion);

    const std::string archive = plat::JoinPath(m_szUpdatePath, section);
    // An archive left by an interrupted run is reused when it is intact.
    if (DownloadCheck(archive.c_str(), guid, static_cast<uint32_t>(listedSize)) == 0 &&
        FetchCheckedArchive(archive.c_str(), guid, listedSize) == 0)
        return 0;
    if (CheckArchiveDigest(section.c_str(), archive.c_str()) == 0)
        return 0;

    const bool full = m_nUpdateKind == UPDATE_FULL_VERSION;
    const std::string unpack =
        full ? std::string(m_szDefaultPath) : plat::JoinPath(m_szUpdatePath, m_szUpdateFileName);
    CopyText(m_szUnpackPath, sizeof(m_szUnpackPath), unpack.c_str());
    if (ExtractFile(archive.c_str(), unpack.c_str(), fileCount, 0, 0) == 0) {
        RecordStringError(0, IDS_ARCHIVE_EXTRACT, kStringBuffer, CUSTOM_ERROR_ARCHIVE_EXTRACT,
                          {archive.c_str(), unpack.c_str()});
        return 0;
    }
    plat::DeleteFile(archive);
    // The full archive has been unpacked over the game directory, its own
    // Update/version.uvf included; nothing of the game directory is removed.
    if (full)
        return 1;

    int result = UpdateVersionFile();
    // Pack changes are committed before the record says they are there.
    if (result != 0 && ClosePackFiles() == 0)
        result = 0;
    if (result != 0)
        result = ReplaceVersionFile(true);
    ClosePackFiles();
    if (m_pProtocol)
        m_pProtocol->DeletePath(unpack.c_str());
    else
        plat::DeleteTree(unpack);
    return result;
}

int CFileUpdater::FetchCheckedArchive(const char* archive, const char* guid, uint64_t listedSize) {
    // The start of the archive from an interrupted run is continued when it
    // is shorter than the listed size; the hash check still decides.
    uint64_t held = 0;
    const bool continuing =
        listedSize > 0 && plat::GetFileSize(archive, held) && held > 0 && held < listedSize;
    if (DownloadArchive(archive, continuing) == 0)
        return 0;
    const auto fileSize = static_cast<uint32_t>(listedSize);
    if (DownloadCheck(archive, guid, fileSize) != 0)
        return 1;
    if (continuing && !StopSignalled()) {
        // The kept start was not this archive's after all (or was damaged):
        // once more, whole.
        UpdateLog("DownloadCheck Continued Archive Invalid %s\n", archive);
        plat::DeleteFile(archive);
        if (DownloadArchive(archive) == 0)
            return 0;
        if (DownloadCheck(archive, guid, fileSize) != 0)
            return 1;
    }
    UpdateLog("DownloadCheck Invalid hash %s", archive);
    RecordStringError(0, IDS_ARCHIVE_CHECK, kStringBuffer, CUSTOM_ERROR_ARCHIVE_CHECK, {archive});
    return 0;
}

int CFileUpdater::ReplaceVersionFile(bool logCopy) {
    const std::string source = plat::JoinPath(m_szUnpackPath, "filelist.uvf");
    const std::string target = plat::JoinPath(m_szUpdatePath, "version.uvf");
    if (logCopy)
        UpdateLog("copy file version ==========================. (%s %s)\n", source.c_str(),
                  target.c_str());
    // The record is the step's commit point: what the list wrote (moved in,
    // unflushed) must be on the disk before the record says it is there.
    std::vector<std::string> written(m_appliedDirs.begin(), m_appliedDirs.end());
    written.insert(written.begin(), {m_szDefaultPath, m_szUpdatePath});
    if (!plat::SyncFileSystems(written)) {
        RecordStringError(static_cast<int>(plat::GetLastError()), IDS_VERSION_COPY, kStringBuffer,
                          CUSTOM_ERROR_VERSION_COPY, {target.c_str()});
        return 0;
    }
    bool copied = plat::CopyFile(source, target, false);
    uint32_t error = copied ? 0 : plat::GetLastError();
    if (!copied && error == plat::ERROR_ACCESS_DENIED_CODE) {
        if (plat::IsReadOnly(target))
            plat::SetReadOnly(target, false);
        copied = plat::CopyFile(source, target, false);
        if (!copied)
            error = plat::ERROR_ACCESS_DENIED_CODE;
    }
    if (!copied) {
        RecordStringError(static_cast<int>(error), IDS_VERSION_COPY, kStringBuffer,
                          CUSTOM_ERROR_VERSION_COPY, {target.c_str()});
        return 0;
    }
    if (logCopy)
        UpdateLog("Update Complete. (%s %s)\n", m_szLocalUpdateName, m_szLocalVersion);
    else
        PatchLog("Update Complete. (%s %s)\n", m_szLocalUpdateName, m_szLocalVersion);
    return 1;
}

int CFileUpdater::DownloadCheck(const char* path, const char* expectedHash, uint32_t expectedSize) {
    const int exists = ExistUpdateFile(path, expectedSize);
    if (expectedHash == nullptr || expectedHash[0] == '\0' || exists == 0)
        return 0;
    m_FileHash.Reset();
    const bool hashed = m_FileHash.HashFile(path);
    m_FileHash.Final();
    if (!hashed) {
        UpdateLog("DownloadCheck GetHash Failed %s\n", path);
        return 0;
    }
    char computed[48] = {};
    m_FileHash.ReportHash(computed, REPORT_HEX);
    if (std::strcmp(expectedHash, computed) == 0)
        return 1;
    UpdateLog("DownloadCheck Invalid hash %s\n", path);
    UpdateLog("DownloadCheck Invalid Ftp   hash %s\n", expectedHash);
    UpdateLog("DownloadCheck Invalid Local hash %s\n", computed);
    return 0;
}

int CFileUpdater::ExistUpdateFile(const char* path, uint32_t expectedSize) {
    try {
        if (path == nullptr || !plat::FileExists(path))
            return 0;
        if (expectedSize == 0)
            return 1;
        uint64_t size = 0;
        if (plat::GetFileSize(path, size) && static_cast<uint32_t>(size) == expectedSize)
            return 1;
        UpdateLog("ExistUpdateFile Invalid FileSize %s Ftp Size %u Local Size\n", path,
                  expectedSize);
        return 0;
    } catch (...) {
        SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr, 0);
        return 0;
    }
}

int CFileUpdater::ApplyManualArchive() {
    CopyText(m_szUpdateFileName, sizeof(m_szUpdateFileName), m_szManualArchive);
    const std::string archive = plat::JoinPath(m_szUpdatePath, ArchiveFileName(m_szUpdateFileName));
    const auto archiveSize = static_cast<uint32_t>(static_cast<int64_t>(m_dManualArchiveSize));
    if (DownloadCheck(archive.c_str(), m_szManualHash, archiveSize) == 0) {
        RecordStringError(0, IDS_ARCHIVE_CHECK, kStringBuffer, CUSTOM_ERROR_ARCHIVE_CHECK,
                          {archive.c_str()});
        return RUN_PATCH_FAILED;
    }

    InstallStopEvent();
    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    info.nFileIndex = 0;
    info.nTotalReceived = 0;
    info.nFileCount = m_nManualFileCount;
    info.nTotalSize = static_cast<uint64_t>(2.0 * m_dManualUnpackedSize);
    CopyText(info.szMajorVersion, sizeof(info.szMajorVersion), m_szLocalVersion);
    CopyText(info.szMinorVersion, sizeof(info.szMinorVersion), m_szLocalMinorVersion);

    const bool full = m_nUpdateKind == UPDATE_FULL_VERSION;
    const std::string unpack =
        full ? std::string(m_szDefaultPath) : plat::JoinPath(m_szUpdatePath, m_szUpdateFileName);
    CopyText(m_szUnpackPath, sizeof(m_szUnpackPath), unpack.c_str());
    if (ExtractFile(archive.c_str(), unpack.c_str(), m_nManualFileCount, 0, 0) == 0) {
        PatchLog("Extract failed %s->%s\n", archive.c_str(), unpack.c_str());
        ReleaseStopEvent();
        return RUN_PATCH_FAILED;
    }
    plat::DeleteFile(archive);

    // A full archive is complete once unpacked over the game directory; the
    // game directory is never cleaned up as if it were a work directory.
    int result = 1;
    if (!full) {
        result = UpdateVersionFile();
        if (result != 0 && ClosePackFiles() == 0)
            result = 0;
        if (result != 0)
            result = ReplaceVersionFile(false);
    }
    ClosePackFiles();
    if (!full)
        plat::DeleteTree(unpack);
    ReleaseStopEvent();
    return result != 0 ? RUN_OK : RUN_PATCH_FAILED;
}

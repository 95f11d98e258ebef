// CFileUpdater: checking an installation against the root's manifest and
// repairing it from the full archive.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/FileUpdater.h"
#include "engine/InstallRepair.h"
#include "engine/ResourceText.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

// Reads parts of a local copy of the archive.
bool ReadLocalPart(const std::string& path, uint64_t offset, uint64_t length, std::string* out) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    out->assign(length, '\0');
    return f && plat::SeekStream(f.get(), offset) &&
           std::fread(out->data(), 1, length, f.get()) == length;
}

}  // namespace

int CFileUpdater::CheckInstallation(bool repair, std::vector<InstallFinding>* findings) {
    findings->clear();
    std::memset(&CallbackInfo(), 0, sizeof(UPDATE_CALLBACK_INFO));
    if (!LoadPublisherKey())
        return CHECK_FAILED;
    InstallStopEvent();
    const int result = CheckSteps(repair, findings);
    const std::string copy = plat::JoinPath(m_szUpdatePath, m_RootManifest.fullArchive);
    if (!m_RootManifest.fullArchive.empty())
        plat::DeleteFile(copy);
    const bool stopped = StopSignalled();
    ReleaseStopEvent();
    return stopped && result != CHECK_ALL_WELL ? CHECK_STOPPED : result;
}

int CFileUpdater::CheckSteps(bool repair, std::vector<InstallFinding>* findings) {
    if (!m_pProtocol || ConnectPatchServer() == 0)
        return CHECK_CONNECT_FAILED;
    if (FetchRootManifest() == 0) {
        if (!m_bRootFileRefused)
            RecordStringError(0, IDS_MANIFEST_MISSING, kStringBuffer, CUSTOM_ERROR_CHECK_FAILED,
                              {CRootManifest::kFileName});
        return CHECK_FAILED;
    }
    CUpdateVersion installed;
    const std::string record = plat::JoinPath(m_szUpdatePath, "version.uvf");
    installed.SetPath(record.c_str());
    const bool recorded = installed.LoadUpdateVersion();
    // A manifest describes one version: other files are no damage. A minor
    // archive changes that version's files further; they would pass for
    // damage and be "repaired" back.
    const std::string minor = recorded ? installed.m_szMinorVersion : "";
    const bool noMinor = minor.empty() || minor == "0" || minor == "unknown";
    if (!recorded || m_RootManifest.version != installed.m_szUpdateVersion || !noMinor) {
        const std::string shown =
            !recorded ? "?"
            : noMinor ? std::string(installed.m_szUpdateVersion)
                      : std::string(installed.m_szUpdateVersion) + " (minor " + minor + ")";
        RecordStringError(0, IDS_CHECK_VERSION, kStringBuffer, CUSTOM_ERROR_CHECK_FAILED,
                          {shown.c_str(), m_RootManifest.version.c_str()});
        return CHECK_FAILED;
    }
    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    info.nFileCount = static_cast<int32_t>(m_RootManifest.files.size());
    info.nTotalSize = CInstallCheck::TotalBytes(m_RootManifest);
    const bool checked = CInstallCheck::Run(
        m_szDefaultPath, m_RootManifest,
        [this](const std::string& name, uint64_t bytes) {
            UPDATE_CALLBACK_INFO& i = CallbackInfo();
            CopyText(i.szFileName, sizeof(i.szFileName), name.c_str());
            ++i.nFileIndex;
            i.nTotalReceived = bytes;
            Notify(NOTIFY_CHECK_FILE);
            return !StopSignalled();
        },
        findings);
    if (!checked)
        return CHECK_STOPPED;
    size_t broken = 0;
    for (const InstallFinding& f : *findings)
        broken += CInstallCheck::NeedsRepair(f) ? 1 : 0;
    if (broken == 0)
        return CHECK_ALL_WELL;
    if (!repair)
        return CHECK_DAMAGED;
    return RepairFindings(findings) ? CHECK_ALL_WELL : CHECK_DAMAGED;
}

bool CFileUpdater::RepairFindings(std::vector<InstallFinding>* findings) {
    const std::string& name = m_RootManifest.fullArchive;
    const ManifestArchive* full = name.empty() ? nullptr : m_RootManifest.FindArchive(name);
    if (!full) {
        RecordStringError(0, IDS_REPAIR_FAILED, kStringBuffer, CUSTOM_ERROR_REPAIR_FAILED,
                          {"-", "the patch server offers no full archive"});
        return false;
    }
    const std::string copy = plat::JoinPath(m_szUpdatePath, name);
    bool whole = false;
    CInstallRepair repair(
        m_szDefaultPath, plat::JoinPath(m_szUpdatePath, "repair"),
        [&](uint64_t offset, uint64_t length, std::string* out) {
            if (!whole) {
                const int part = m_pProtocol->FetchRange(name.c_str(), offset, length, out);
                if (part >= 0)
                    return part == 1;
                // The server sends only whole files: the archive once, whole,
                // checked by its full digest before anything is read from it.
                UpdateLog("Repair Fetches Whole Archive %s\n", name.c_str());
                whole =
                    FetchFile(name.c_str(), copy.c_str()) && CSha256::OfFile(copy) == full->sha256;
                if (!whole)
                    return false;
            }
            return ReadLocalPart(copy, offset, length, out);
        },
        full->size);
    bool all = repair.Open();
    for (InstallFinding& f : *findings) {
        if (!all || StopSignalled())
            break;
        if (!CInstallCheck::NeedsRepair(f))
            continue;
        f.repaired = repair.Repair(f.file);
        all = f.repaired;
        UPDATE_CALLBACK_INFO& i = CallbackInfo();
        CopyText(i.szFileName, sizeof(i.szFileName), f.file.ListName().c_str());
        if (f.repaired)
            Notify(NOTIFY_REPAIR_FILE);
    }
    if (!all && !StopSignalled()) {
        UpdateLog("Repair Failed %s\n", repair.Error().c_str());
        RecordStringError(0, IDS_REPAIR_FAILED, kStringBuffer, CUSTOM_ERROR_REPAIR_FAILED,
                          {name.c_str(), repair.Error().c_str()});
    }
    return all;
}

// Applying a patch's file list: loose files, configuration files, pack
// entries, and the closing ticker that animates long pack closes.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"

namespace {

// Names the list may carry that belong to the launcher and the engine
// themselves; the engine replaces version.uvf only after the whole list.
bool IsPassedOver(const char* name, const char* exeName) {
    return std::strcmp(name, exeName) == 0 || std::strcmp(name, "update.uvf") == 0 ||
           std::strcmp(name, "version.uvf") == 0 || std::strcmp(name, "filelist.uvf") == 0;
}

// The directory part of a data name ("a\\b\\c.txt" -> "a\\b"), "" for none.
std::string DataDirectory(const char* name) {
    const char* slash = std::strrchr(name, '\\');
    return slash ? std::string(name, static_cast<size_t>(slash - name)) : std::string();
}

// The unpacked file an entry reads: its own name, or the patch's pack for a
// pack entry. Spelt loosely (letter case, either separator), so that two
// spellings of one file are never taken for two files.
std::string SourceKey(const UpdateFileEntry& entry) {
    std::string name = entry.szFileName;
    if (entry.byUpdateType == uvf::UPDATE_TYPE_PACK) {
        char pack[plat::kMaxPath], inner[plat::kMaxPath];
        CFileUpdater::GetPackFileName(entry.szFileName, pack, inner);
        name = pack;
    }
    for (char& c : name) {
        if (c == '/')
            c = '\\';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

}  // namespace

void CFileUpdater::NoteSourceUses(const UpdateFileEntry* entries, uint32_t count) {
    m_lastSourceUse.clear();
    m_appliedDirs.clear();
    for (uint32_t i = 0; i < count; ++i)
        m_lastSourceUse[SourceKey(entries[i])] = &entries[i];
}

void CFileUpdater::MakeDirectoryChain(const char* relativeDir) {
    std::string path = m_szDefaultPath;
    std::string piece;
    for (const char* p = relativeDir;; ++p) {
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (!piece.empty()) {
                path = plat::JoinPath(path, piece);
                plat::CreateDirectory(path);
            }
            piece.clear();
            if (*p == '\0')
                break;
        } else {
            piece += *p;
        }
    }
}

// Raises a progress notification for one list entry; the record is touched
// only while someone listens.
static void NotifyEntry(int32_t code, const UpdateFileEntry* entry, bool countSize) {
    if (CUpdaterBase::GetCallBack() == nullptr)
        return;
    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    std::snprintf(info.szFileName, sizeof(info.szFileName), "%s", entry->szFileName);
    info.nFileIndex += 1;
    if (countSize)
        info.nTotalReceived += entry->nFileSize;
    CUpdaterBase::Notify(code);
}

int CFileUpdater::UpdateVersionFile() {
    if (m_pProtocol)
        m_pProtocol->StartKeepAlive();
    auto finish = [this](int result) {
        if (m_pProtocol)
            m_pProtocol->StopKeepAlive();
        return result;
    };
    ClosePackFiles();

    const std::string listPath =
        plat::JoinPath(plat::JoinPath(m_szUpdatePath, m_szUpdateFileName), "filelist.uvf");
    CUpdateVersion fileList;
    fileList.SetPath(listPath.c_str());
    if (!fileList.LoadUpdateVersion()) {
        UpdateLog("UpdateVersionFile LoadUpdateVersion Failed %s\n", listPath.c_str());
        if (!StopSignalled())
            SendLogMail();
        return finish(0);
    }
    uint32_t count = 0;
    const UpdateFileEntry* entries = fileList.GetFileList(&count);
    if (entries == nullptr && count != 0) {
        RecordStringError(0, IDS_FILELIST_EMPTY, kStringBuffer, CUSTOM_ERROR_FILELIST_EMPTY);
        return finish(0);
    }

    NoteSourceUses(entries, count);

    if (GetCallBack() != nullptr) {
        UPDATE_CALLBACK_INFO& info = CallbackInfo();
        CopyText(info.szFileName, sizeof(info.szFileName),
                 (std::string(m_szUpdateFileName) + ".lbc").c_str());
        info.nFileIndex = 0;
        info.nFileCount = static_cast<int32_t>(count);
        Notify(NOTIFY_APPLY_START);
    }

    for (uint32_t i = 0; i < count; ++i) {
        if (StopSignalled())
            return finish(0);
        if (ApplyEntry(&entries[i]) == 0)
            return finish(0);
    }
    return finish(1);
}

int CFileUpdater::ApplyEntry(const UpdateFileEntry* entry) {
    const char* name = entry->szFileName;
    if (IsPassedOver(name, m_szExeName)) {
        NotifyEntry(NOTIFY_EXTRACT_FILE, entry, true);
        return 1;
    }
    UpdateLog("UpdateType is %d", entry->byUpdateType);
    UpdateLog("File Size : %d, File Name : %s", static_cast<int>(entry->nFileSize), name);
    if (entry->byUpdateType == uvf::UPDATE_TYPE_NONE) {
        NotifyEntry(NOTIFY_EXTRACT_FILE, entry, false);
        return 1;
    }
    // The list comes from the server: a name that is absolute or climbs out
    // of the game directory must not write anywhere.
    if (!plat::IsSafeRelativeName(name)) {
        UpdateLog("UpdateVersionFile Unsafe File Name %s\n", name);
        RecordStringError(static_cast<int>(plat::ERROR_INVALID_NAME_CODE), IDS_NORMAL_FILE_OTHER,
                          kStringBuffer, CUSTOM_ERROR_NORMAL_FILE_OTHER, {name});
        return 0;
    }
    int result = 0;
    switch (entry->byUpdateType) {
        case uvf::UPDATE_TYPE_NORMAL:
            UpdateLog("NormalFileUpdate start >> filename : %s\n", name);
            result = NormalFileUpdate(entry);
            UpdateLog("NormalFileUpdate end << filename : %s\n", name);
            break;
        case uvf::UPDATE_TYPE_CONFIG:
            UpdateLog("ConfigFileUpdate start >> filename : %s\n", name);
            result = ConfigFileUpdate(entry);
            UpdateLog("ConfigFileUpdate end << filename : %s\n", name);
            break;
        case uvf::UPDATE_TYPE_PACK: {
            UpdateFileEntry copy = *entry;
            result = PackFileUpdate(&copy);
            char pack[plat::kMaxPath], inner[plat::kMaxPath];
            GetPackFileName(name, pack, inner);
            m_appliedDirs.insert(plat::DirName(plat::JoinDataPath(m_szDefaultPath, pack)));
            break;
        }
        default:
            UpdateLog("UpdateVersionFile Unknown UpdateType %d %s\n", entry->byUpdateType, name);
            break;
    }
    return result;
}

int CFileUpdater::NormalFileUpdate(const UpdateFileEntry* entry) {
    const char* name = entry->szFileName;
    try {
        const std::string dir = DataDirectory(name);
        if (!dir.empty())
            MakeDirectoryChain(dir.c_str());
        const std::string source =
            plat::JoinDataPath(plat::JoinPath(m_szUpdatePath, m_szUpdateFileName), name);
        const std::string target = plat::JoinDataPath(m_szDefaultPath, name);
        // The unpack directory is deleted after the list, so the file can be
        // moved into place rather than copied, unless a later entry still
        // reads it (or the call comes from outside a list).
        const auto last = m_lastSourceUse.find(SourceKey(*entry));
        const bool keepSource = last == m_lastSourceUse.end() || last->second != entry;
        if (plat::PlaceFile(source, target, keepSource)) {
            m_appliedDirs.insert(plat::DirName(target));
            UpdateLog("NormalFileUpdate Success %s\n", name);
            NotifyEntry(NOTIFY_APPLY_FILE, entry, true);
            return 1;
        }
        if (RetryFileCopy(plat::GetLastError(), source, target, keepSource) == 0)
            return 0;
        m_appliedDirs.insert(plat::DirName(target));
        return 1;
    } catch (...) {
        SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr,
                        CUSTOM_ERROR_NORMAL_FILE_EXCEPTION);
        return 0;
    }
}

int CFileUpdater::RetryFileCopy(uint32_t error, const std::string& source,
                                const std::string& target, bool keepSource) {
    if (plat::IsReadOnly(target))
        plat::SetReadOnly(target, false);
    unsigned stringId = IDS_NORMAL_FILE_OTHER;
    int custom = CUSTOM_ERROR_NORMAL_FILE_OTHER;
    const std::string* argument = &target;
    switch (error) {
        case plat::ERROR_SHARING_VIOLATION_CODE:
            stringId = IDS_NORMAL_FILE_SHARING;
            custom = CUSTOM_ERROR_NORMAL_FILE_SHARING;
            break;
        case plat::ERROR_ALREADY_EXISTS_CODE:
            plat::DeleteFile(target);
            if (plat::PlaceFile(source, target, keepSource))
                return 1;
            stringId = IDS_NORMAL_FILE_EXISTS;
            custom = CUSTOM_ERROR_NORMAL_FILE_EXISTS;
            break;
        case plat::ERROR_FILE_NOT_FOUND_CODE:
            stringId = IDS_NORMAL_FILE_NO_SOURCE;
            custom = CUSTOM_ERROR_NORMAL_FILE_NO_SOURCE;
            argument = &source;
            break;
        case plat::ERROR_ACCESS_DENIED_CODE:
            if (plat::PlaceFile(source, target, keepSource))
                return 1;
            stringId = IDS_NORMAL_FILE_ACCESS;
            custom = CUSTOM_ERROR_NORMAL_FILE_ACCESS;
            break;
        default:
            break;
    }
    RecordStringError(static_cast<int>(error), stringId, kStringBuffer, custom,
                      {argument->c_str()});
    return 0;
}

int CFileUpdater::ConfigFileUpdate(const UpdateFileEntry* entry) {
    const char* name = entry->szFileName;
    try {
        const std::string dir = DataDirectory(name);
        if (!dir.empty())
            MakeDirectoryChain(dir.c_str());
        const std::string target = plat::JoinDataPath(m_szDefaultPath, name);
        if (ExistUpdateFile(target.c_str(), 0) == 0) {
            UpdateLog("Config File not exist Update by Normal File\n");
            return NormalFileUpdate(entry);
        }
        // The player's own settings win over the published defaults.
        if (GetCallBack() != nullptr) {
            UpdateLog("ConfigFileUpdate Success %s\n", name);
            NotifyEntry(NOTIFY_APPLY_FILE, entry, true);
        }
        return 1;
    } catch (...) {
        SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr,
                        CUSTOM_ERROR_CONFIG_FILE_EXCEPTION);
        return 0;
    }
}

void CFileUpdater::StartClosingTicker() {
    m_ClosingTicker.Start();
    UserLog("CasingUpdateStart.... \n");
}

void CFileUpdater::StopClosingTicker() {
    m_ClosingTicker.Stop();
}

void CFileUpdater::SendClosingTick() {
    UpdateLog("SendCashingProc() \n");
    if (GetCallBack() == nullptr)
        return;
    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    if (info.nPercent >= 100)
        info.nPercent = 0;
    info.nPercent += 1;
    Notify(NOTIFY_PERCENT);
}

// CFileUpdater: moving files of a patch's own pack into the installed pack
// (file-list entries of type 3). Both pack objects stay open across entries
// of the same pack; a change of pack closes and commits the installed one.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/FileUpdater.h"
#include "engine/ResourceText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"

namespace {

constexpr uint32_t kCopyChunk = 20480;
constexpr const char* kScratchName = "tmp.uvf";
// Entries up to this size are copied through memory instead of the scratch
// file: most entries are small, and each scratch file costs a create, a
// write and a read back.
constexpr uint32_t kInMemoryEntry = 4u << 20;
// The program's own text for a failed write of the scratch file ("writing
// the temporary packing file failed").
constexpr const char* kScratchWriteFailText = "임시 패킹 파일 쓰기를 실패했습니다. %s";

// The form CPackFile stores its path in, for comparing with GetPath().
std::string StoredForm(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void CFileUpdater::GetPackFileName(const char* fileName, char* packPath, char* innerPath) {
    std::string name(fileName ? fileName : "");
    std::string pack = name, inner;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('\\', start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        size_t dot = part.rfind('.');
        if (dot != std::string::npos && part.compare(dot, std::string::npos, ".lpk") == 0) {
            pack = name.substr(0, end);
            inner = end < name.size() ? name.substr(end + 1) : std::string();
            break;
        }
        start = end + 1;
    }
    std::snprintf(packPath, plat::kMaxPath, "%s", pack.c_str());
    std::snprintf(innerPath, plat::kMaxPath, "%s", inner.c_str());
}

namespace {

// Records a pack failure: message from the string id formatted with path,
// the thread's system error, the custom code; userTag (may be null) goes to
// the user log with the message in place of its "%s".
void RecordPackFailure(CFileUpdater& self, plat::ResourceHandle module, int customCode,
                       unsigned stringId, const char* path, const char* userTag) {
    const int error = static_cast<int>(plat::GetLastError());
    const std::string text = LoadFormattedString(module, stringId, kStringBufferLong, {path});
    self.SetLastErrorMsg(ERROR_KIND_CUSTOM, error, text.c_str(), customCode);
    self.UpdateLog("%s\n", text.c_str());
    if (userTag)
        UserLog(userTag, text.c_str());
}

// A pack whose content was refused says why in both logs, since the
// recorded message only names the file.
void LogRefusal(CFileUpdater& self, const char* path) {
    const char* why = CPackFile::LastRefusal();
    if (!*why)
        return;
    const uint32_t error = plat::GetLastError();
    self.UpdateLog("PackFileUpdate... %s refused: %s\n", path, why);
    UserLog("PACK_FILE_REFUSED(%s: %s) \n", path, why);
    plat::SetLastError(error);
}

}  // namespace

int CFileUpdater::ClosePackFiles() {
    int ok = 1;
    if (m_TempPackfile.IsFileOpen())
        m_TempPackfile.Close();
    if (m_Packfile.IsFileOpen()) {
        StartClosingTicker();
        ok = m_Packfile.Close();
        StopClosingTicker();
        if (GetCallBack()) {
            CallbackInfo().nPercent = 100;
            Notify(NOTIFY_PERCENT);
            CallbackInfo().nPercent = 0;
        }
        UserLog("CasingUpdateEnd.... \n");
        if (!ok) {
            // The pack's changes did not reach the disk; the run must not
            // record them as applied.
            SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr,
                            CUSTOM_ERROR_PACK_SYSTEM);
        }
    }
    return ok;
}

int CFileUpdater::PackFileUpdate(UpdateFileEntry* entry) {
    try {
        return PackFileUpdateSteps(entry);
    } catch (...) {
        SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr,
                        CUSTOM_ERROR_PACK_SYSTEM);
        return 0;
    }
}

int CFileUpdater::OpenInstalledPack(const char* packFilePath, const char* packPath) {
    UpdateLog(
        "... In File CFileUpdater::PackFileUpdate line In ExistUpdateFile(szPackFilePath, 0) 1722 "
        "\n");
    if (!ExistUpdateFile(packFilePath, 0)) {
        std::string dir = plat::DirName(packPath);
        if (!dir.empty())
            MakeDirectoryChain(dir.c_str());
        if (m_Packfile.IsFileOpen() && !ClosePackFiles())
            return 0;
        m_Packfile.SetWindow(GetCallBackWindow());
        UpdateLog("PackFileUpdate... szPackFilePath : %s\n", packFilePath);
        if (!m_Packfile.Open(packFilePath, nullptr, PACK_MODE_CONTAINER | PACK_MODE_CREATE)) {
            UpdateLog("error on open pack file\n");
            RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_CREATE, IDS_PACK_CREATE,
                              packFilePath, "ERROR_PACK_FILE_CREATE_FAIL(%s) \n");
            return 0;
        }
        UpdateLog(
            "... In File CFileUpdater::PackFileUpdate line Out ExistUpdateFile(szPackFilePath, 0) "
            "1758 \n");
    }
    UpdateLog("... In File CFileUpdater::PackFileUpdate line In m_Packfile.IsFileOpen() 1764 \n");
    const int mode = PACK_MODE_CONTAINER | PACK_MODE_WRITE;
    if (m_Packfile.IsFileOpen()) {
        if (StoredForm(packFilePath) == m_Packfile.GetPath())
            return 1;
        // Another pack: commit it before this one is opened.
        if (!ClosePackFiles())
            return 0;
        m_Packfile.SetWindow(GetCallBackWindow());
        CPackFile::RepairSignature(packFilePath);
        UpdateLog("...\n");
        UpdateLog("PackFileUpdate... Different PackFile szNewPackFilePath : %s\n", packFilePath);
        UpdateLog("...\n");
        if (!m_Packfile.Open(packFilePath, nullptr, mode)) {
            LogRefusal(*this, packFilePath);
            RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_OPEN, IDS_PACK_OPEN,
                              packFilePath, "ERROR_PACK_FILE_OPEN_FAIL(%s) \n");
            return 0;
        }
        UpdateLog(
            "... In File CFileUpdater::PackFileUpdate line Out m_Packfile.IsFileOpen() 1793 \n");
        return 1;
    }
    m_Packfile.SetWindow(GetCallBackWindow());
    CPackFile::RepairSignature(packFilePath);
    if (m_Packfile.Open(packFilePath, nullptr, mode))
        return 1;
    const uint32_t error = plat::GetLastError();
    if (error != plat::ERROR_SHARING_VIOLATION_CODE) {
        UpdateLog("PackFileUpdate... Reopen Error Unknown Errorcode : %d\n",
                  static_cast<int>(error));
        LogRefusal(*this, packFilePath);
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_OPEN, IDS_PACK_OPEN,
                          packFilePath, "ERROR_PACK_FILE_OPEN_FAIL(%s) \n");
        return 0;
    }
    // Our own other pack object may be what holds it: close both, try once more.
    if (!ClosePackFiles())
        return 0;
    UpdateLog("PackFileUpdate... Reopen PackFile szPackFilePath : %s\n", packFilePath);
    if (!m_Packfile.Open(packFilePath, nullptr, mode)) {
        LogRefusal(*this, packFilePath);
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_OPEN, IDS_PACK_OPEN,
                          packFilePath, "ERROR_PACK_FILE_OPEN_FAIL(%s) \n");
        return 0;
    }
    return 1;
}

int CFileUpdater::OpenPatchPack(const char* tempPackPath) {
    UpdateLog("PackFileUpdate... m_TempPackfile : %s\n", tempPackPath);
    const int mode = PACK_MODE_CONTAINER | PACK_MODE_WRITE;
    if (m_TempPackfile.IsFileOpen()) {
        if (StoredForm(tempPackPath) == m_TempPackfile.GetPath())
            return 1;
        m_TempPackfile.Close();
        m_TempPackfile.SetWindow(GetCallBackWindow());
        if (!m_TempPackfile.Open(tempPackPath, nullptr, mode)) {
            RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_TEMP_OPEN,
                              IDS_PACK_TEMP_OPEN, tempPackPath, "ERROR_PACK_TEMP_OPEN_FAIL(%s) \n");
            return 0;
        }
        return 1;
    }
    m_TempPackfile.SetWindow(GetCallBackWindow());
    CPackFile::RepairSignature(tempPackPath);
    if (!m_TempPackfile.Open(tempPackPath, nullptr, mode)) {
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_TEMP_OPEN, IDS_PACK_TEMP_OPEN,
                          tempPackPath, nullptr);
        return 0;
    }
    return 1;
}

int CFileUpdater::CopyOutOfPatchPack(const UpdateFileEntry* entry, const char* innerPath,
                                     const char* scratchPath, std::string* memory) {
    PackSubFile* sub = m_TempPackfile.OpenFile(innerPath, PACK_MODE_READ);
    if (!sub) {
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_TEMP_SUB_FILE_OPEN,
                          IDS_PACK_TEMP_SUB_FILE_OPEN, innerPath,
                          "ERROR_PACK_TEMP_SUB_FILE_OPEN_FAIL(%s) \n");
        return -1;
    }
    // Small entries stay in memory; larger ones go through the scratch file.
    // Either way the fingerprint is taken on the way, not by reading again.
    const bool inMemory = entry->nFileSize <= kInMemoryEntry;
    std::unique_ptr<std::FILE, FileCloser> out(inMemory ? nullptr : std::fopen(scratchPath, "wb"));
    if (!inMemory && !out) {
        plat::SetLastErrorFromErrno();
        m_TempPackfile.CloseFile(sub);
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_TEMP_UVF_CREATE,
                          IDS_PACK_TEMP_UVF_CREATE, scratchPath,
                          "ERROR_PACK_TEMP_UVF_FILE_CRATE_FAIL(%s) \n");
        return -1;
    }
    memory->clear();
    if (inMemory)
        memory->reserve(entry->nFileSize);
    const CFileHash::SamplePlan plan = CFileHash::PlanSamples(entry->nFileSize);
    m_FileHash.Reset();
    char buffer[kCopyChunk];
    uint32_t remaining = entry->nFileSize;
    uint32_t chunk = remaining < kCopyChunk ? remaining : kCopyChunk;
    int ok = 1;
    while (remaining > 0) {
        if (!m_TempPackfile.ReadFile(sub, buffer, chunk)) {
            UpdateLog("PackFileUpdate ReadFile Failed %s\n", innerPath);
            ok = 0;
            break;
        }
        m_FileHash.UpdateSampled(plan, entry->nFileSize - remaining, buffer, chunk);
        remaining -= chunk;
        if (inMemory) {
            memory->append(buffer, chunk);
        } else if (std::fwrite(buffer, 1, chunk, out.get()) != chunk) {
            RecordScratchWriteFailure(scratchPath);
            ok = 0;
            break;
        }
        if (remaining < kCopyChunk)
            chunk = remaining;
    }
    m_FileHash.Final();
    if (out && std::fclose(out.release()) != 0 && ok) {
        RecordScratchWriteFailure(scratchPath);
        ok = 0;
    }
    m_TempPackfile.CloseFile(sub);
    return ok;
}

void CFileUpdater::RecordScratchWriteFailure(const char* scratchPath) {
    plat::SetLastErrorFromErrno();
    char text[520];
    std::snprintf(text, sizeof text, kScratchWriteFailText, scratchPath);
    SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(plat::GetLastError()), text,
                    CUSTOM_ERROR_PACK_TEMP_UVF_WRITE);
    UpdateLog("%s\n", text);
    UserLog("ERROR_PACK_TEMP_UVF_FILE_WRITE_FAIL(%s) \n", text);
}

int CFileUpdater::VerifyScratch(const UpdateFileEntry* entry, const char* scratchPath) {
    char computed[48] = {};
    m_FileHash.ReportHash(computed, REPORT_HEX);
    if (std::strncmp(computed, entry->szHash, sizeof entry->szHash) != 0) {
        plat::SetLastError(0);
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_INVALID_HASH,
                          IDS_PACK_INVALID_HASH, scratchPath, "ERROR_PACK_INVALID_HASH(%s) \n");
        return 0;
    }
    return 1;
}

int CFileUpdater::PackFileUpdateSteps(UpdateFileEntry* entry) {
    const char* name = entry->szFileName;
    UpdateLog("PackFileUpdate start >> filename : %s\n", name);
    UpdateLog("... In File CFileUpdater::PackFileUpdate line 1697 \n");
    UpdateLog("... In File CFileUpdater::PackFileUpdate line In GetPackFileName() 1702 \n");
    char packPath[plat::kMaxPath], innerPath[plat::kMaxPath];
    GetPackFileName(name, packPath, innerPath);
    if (!*innerPath) {
        // No pack component: nothing to open, and no pack may be created in
        // place of a game file.
        plat::SetLastError(plat::ERROR_INVALID_NAME_CODE);
        RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_TEMP_SUB_FILE_OPEN,
                          IDS_PACK_TEMP_SUB_FILE_OPEN, name,
                          "ERROR_PACK_TEMP_SUB_FILE_OPEN_FAIL(%s) \n");
        return 0;
    }
    const std::string packFilePath = plat::JoinDataPath(m_szDefaultPath, packPath);
    if (!OpenInstalledPack(packFilePath.c_str(), packPath))
        return 0;

    const std::string workDir = plat::JoinPath(m_szUpdatePath, m_szUpdateFileName);
    const std::string tempPackPath = plat::JoinDataPath(workDir, packPath);
    if (!OpenPatchPack(tempPackPath.c_str()))
        return 0;

    // The file is copied out and verified before the installed version is
    // touched, so a bad patch file leaves the installed pack as it was.
    UpdateLog("PackFileUpdate Patch szDetailFilePath %s\n", innerPath);
    const std::string scratch = plat::JoinPath(workDir, kScratchName);
    std::string memory;
    int result = CopyOutOfPatchPack(entry, innerPath, scratch.c_str(), &memory);
    if (result < 0)
        return 0;
    if (result)
        result = VerifyScratch(entry, scratch.c_str());
    if (result) {
        if (!m_Packfile.DeleteFile(innerPath)) {
            UpdateLog("PackFileUpdate Patch DeleteFile Failed %s %d\n", innerPath,
                      static_cast<int>(plat::GetLastError()));
        }
        const char* cut = std::strrchr(innerPath, '\\');
        if (cut)
            m_Packfile.MakeDirectory(std::string(innerPath, size_t(cut - innerPath)).c_str());
        const bool added = entry->nFileSize <= kInMemoryEntry
                               ? m_Packfile.AddData(memory.data(), memory.size(), innerPath)
                               : m_Packfile.AddFile(scratch.c_str(), innerPath);
        if (added) {
            UpdateLog("PackFileUpdate Success %s\n", name);
        } else {
            RecordPackFailure(*this, ResourceHandle(), CUSTOM_ERROR_PACK_ADD_FILE,
                              IDS_PACK_ADD_FILE, scratch.c_str(),
                              "ERROR_PACK_ADD_FILE_FAIL(%s) \n");
            result = 0;
        }
    }
    plat::DeleteFile(scratch);
    UpdateLog("PackFileUpdate End ...\n");
    if (GetCallBack()) {
        UPDATE_CALLBACK_INFO& info = CallbackInfo();
        std::snprintf(info.szFileName, sizeof info.szFileName, "%s", name);
        info.nFileIndex += 1;
        info.nTotalReceived += entry->nFileSize;
        Notify(NOTIFY_APPLY_FILE);
    }
    return result;
}

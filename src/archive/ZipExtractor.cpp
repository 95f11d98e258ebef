#include "archive/ZipExtractor.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/ZipReader.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Thread.h"

namespace fs = std::filesystem;

namespace {

struct ZipMessage {
    uint32_t code;
    const char* format;
};

constexpr ZipMessage kZipMessages[] = {
    {0x00000001, "can be passed to FormatZipMessage %s"},
    {0x00000100, "couldn't duplicate the handle %s"},
    {0x00000200, "couldn't create/open the file %s"},
    {0x00000300, "failed to allocate some resource %s"},
    {0x00000400, "a general error writing to the file %s"},
    {0x00000500, "couldn't find that file in the zip %s"},
    {0x00000600, "there's still more data to be unzipped %s"},
    {0x00000700, "the zipfile is corrupt or not a zipfile %s"},
    {0x00000800, "a general error reading the file %s"},
    {0x00010000, "general mistake with the arguments %s"},
    {0x00020000,
     "tried to ZipGetMemory, but that only works on mmap zipfiles, which yours wasn't %s"},
    {0x00030000, "the memory size is too small %s"},
    {0x00040000, "the thing was already failed when you called this function %s"},
    {0x00050000, "the zip creation has already been closed %s"},
    {0x00060000, "the indicated input file size turned out mistaken %s"},
    {0x00070000, "the file had already been partially unzipped %s"},
    {0x00080000, "tried to mix creating/opening a zip %s"},
    {0x01000000, "initialisation didn't work %s"},
    {0x02000000, "trying to seek in an unseekable file %s"},
    {0x04000000, "changed its mind on storage, but not allowed %s"},
    {0x05000000, "an internal error in the de/inflation code %s"},
};

void CopyText(char (&field)[260], const char* text) {
    std::snprintf(field, sizeof field, "%s", text != nullptr ? text : "");
}

fs::path Resolve(const char* path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path() : p;
}

}  // namespace

const char* CZipExtractor::ZipErrorFormat(uint32_t code) {
    for (const ZipMessage& m : kZipMessages)
        if (m.code == code)
            return m.format;
    return "Zip Error %s";
}

void CZipExtractor::FormatZipError(uint32_t code, const char* name) {
    // The name goes in by plain substitution: entry names come from the
    // archive and must never be read as a format.
    std::string text = ZipErrorFormat(code);
    text.replace(text.find("%s"), 2, name != nullptr ? name : "");
    char message[512];
    std::snprintf(message, sizeof message, "%s", text.c_str());
    m_owner.SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(plat::GetLastError()), message,
                            CUSTOM_ERROR_NONE);
}

bool CZipExtractor::StopRequested() {
    return !plat::RunCheckPoint(m_host.GetStopEvent());
}

// The full-version archive unpacks straight into the game directory, which
// must survive; a path that holds the game directory, or the file system
// root, is never emptied either.
bool CZipExtractor::MayEmpty(const char* outdir) const {
    if (outdir == nullptr || outdir[0] == '\0')
        return false;
    const fs::path out = Resolve(outdir);
    if (out.empty() || out == out.root_path())
        return false;
    if (m_owner.m_szDefaultPath[0] == '\0')
        return true;
    const fs::path game = Resolve(m_owner.m_szDefaultPath);
    const fs::path rel = game.lexically_relative(out);
    return rel.empty() || *rel.begin() == "..";
}

void CZipExtractor::LogStart(const char* archive, const char* outdir, int count) {
    if (m_owner.m_nUserLogMode)
        m_owner.UpdateLog("ExtractFile OutputPath %s FileCount %d\n", outdir, count);
    else
        m_owner.UpdateLog("ExtractFile %s OutputPath %s FileCount %d\n", archive, outdir, count);
    if (CUpdaterBase::GetCallBack() == nullptr)
        return;
    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    CopyText(info.szFileName, archive);
    info.nFileIndex = 0;
    info.nFileCount = count;
    CUpdaterBase::Notify(NOTIFY_EXTRACT_START);
}

int CZipExtractor::ExtractFile(const char* archive, const char* outdir, int count, int deleteAfter,
                               int countFromArchive) {
    if (archive == nullptr)
        archive = "";
    if (outdir == nullptr)
        outdir = "";
    m_host.StartKeepAlive();
    if (!countFromArchive)
        LogStart(archive, outdir, count);

    if (MayEmpty(outdir))
        m_host.DeletePath(outdir);
    plat::CreateDirectory(outdir);

    int result = 0;
    try {
        result = ExtractEntries(archive, outdir, countFromArchive);
        if (deleteAfter)
            plat::DeleteFile(archive);
        NotifyEnd(archive, result);
    } catch (...) {
        m_owner.SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(plat::GetLastError()), nullptr,
                                CUSTOM_ERROR_NONE);
        result = 0;
    }
    m_host.StopKeepAlive();
    return result;
}

int CZipExtractor::ExtractEntries(const char* archive, const char* outdir, int countFromArchive) {
    CZipReader zip;  // closes the archive on every way out, exceptions included
    ZIP_ENTRY_INFO entry;
    uint32_t err = zip.Open(archive, outdir) ? zip.GetEntry(-1, entry) : ZIP_ERR_ARGS;
    int result = 1;
    int entries = entry.index;
    if (err != ZIP_OK) {
        FormatZipError(err, "");
        entries = 0;
        result = 0;
    }
    if (countFromArchive)
        LogStart(archive, outdir, entries);

    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    for (int i = 0; i < entries; ++i) {
        if (StopRequested())
            return 0;
        err = zip.GetEntry(i, entry);
        if (err == ZIP_OK) {
            if (CUpdaterBase::GetCallBack() != nullptr) {
                CopyText(info.szFileName, entry.name);
                info.nFileIndex += 1;
                info.nTotalReceived += entry.uncompressedSize;
                CUpdaterBase::Notify(NOTIFY_EXTRACT_FILE);
            }
            err = zip.Extract(i, plat::JoinDataPath(outdir, entry.name));
        }
        if (err != ZIP_OK) {
            FormatZipError(err, entry.name);
            return 0;
        }
    }
    return result;
}

void CZipExtractor::NotifyEnd(const char* archive, int result) {
    if (CUpdaterBase::GetCallBack() == nullptr || StopRequested())
        return;
    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    if (result) {
        CopyText(info.szFileName, archive);
        CUpdaterBase::Notify(NOTIFY_EXTRACT_END);
    } else {
        CopyText(info.szErrorMsg, CUpdaterBase::GetLastErrorMessage());
        info.nErrorCode = CUpdaterBase::GetLastErrorCode();
        CUpdaterBase::Notify(NOTIFY_UPDATE_FAILED);
    }
}

// CPackFile: opening, loading and committing a pack (the metadata side).
// Content operations live in PackFileData.cpp, the journal in
// PackFileJournal.cpp.
#include "pack/PackFile.h"

#include <cstdarg>
#include <cstdlib>
#include <set>
#include <vector>

#include "pack/PackFileFormat.h"
#include "pack/PackFileFreeIndex.h"
#include "pack/PackFileTree.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/FileLock.h"
#include "platform/Win32Types.h"

using namespace packfmt;

namespace {

constexpr uint32_t kErrorInvalidData = 13;  // ERROR_INVALID_DATA

CPackFile::ProgressHook g_ProgressHook = nullptr;
CPackFile::WriteHook g_WriteHook = nullptr;

bool ValidMode(int mode) {
    int kind = mode & (PACK_MODE_READ | PACK_MODE_WRITE | PACK_MODE_CREATE);
    if (mode & ~0xF)
        return false;
    if (mode & PACK_MODE_CONTAINER)
        return true;
    return kind == PACK_MODE_READ || kind == PACK_MODE_WRITE || kind == PACK_MODE_CREATE;
}

thread_local const char* t_szRefusal = "";

}  // namespace

namespace packfmt {

bool Refuse(uint32_t error, const char* why) {
    DebugOut("Pack refused: %s\n", why);
    t_szRefusal = why;
    plat::SetLastError(error);
    return false;
}

void DebugOut(const char* format, ...) {
    static const bool enabled = std::getenv("VARN_DEBUG_OUTPUT") != nullptr;
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void BeforeWrite(std::FILE* f, uint64_t offset, const void* data, size_t len) {
    if (g_WriteHook)
        g_WriteHook(f, offset, data, len);
}

bool ReadAt(std::FILE* f, uint64_t offset, void* buf, size_t len) {
    if (!plat::SeekStream(f, offset)) {
        DebugOut("++++++++++ ReadFail_2_Error :\n");
        return false;
    }
    if (std::fread(buf, 1, len, f) != len) {
        DebugOut("++++++++++ ReadFail_4_Error :\n");
        plat::SetLastError(std::ferror(f) ? plat::ERROR_READ_FAULT_CODE : 38);  // 38: end of file
        std::clearerr(f);
        return false;
    }
    return true;
}

bool WriteAt(std::FILE* f, uint64_t offset, const void* buf, size_t len) {
    BeforeWrite(f, offset, buf, len);
    if (!plat::SeekStream(f, offset)) {
        DebugOut("Win32_SetFilePointer_Error:%d\n", static_cast<int>(plat::GetLastError()));
        return false;
    }
    if (std::fwrite(buf, 1, len, f) != len) {
        plat::SetLastErrorFromErrno();
        std::clearerr(f);
        return false;
    }
    return true;
}

std::string ToLocal(const char* path) {
    std::string s(path);
    for (char& c : s) {
        if (c == '\\')
            c = '/';
    }
    return s;
}

std::string ToStored(const char* path) {
    std::string s(path);
    for (char& c : s) {
        if (c == '/')
            c = '\\';
    }
    return s;
}

}  // namespace packfmt

const char* CPackFile::LastRefusal() {
    return t_szRefusal;
}

void CPackFile::SetProgressHook(ProgressHook hook) {
    g_ProgressHook = hook;
}
void CPackFile::SetWriteHookForTests(WriteHook hook) {
    g_WriteHook = hook;
}

CPackFile::CPackFile() = default;

CPackFile::~CPackFile() {
    Close();
}

uint8_t CPackFile::DataKeyFromPassword(const char* password) {
    // One bit from each of the 8 characters, each at its own position.
    static constexpr int kBit[8] = {0, 2, 4, 6, 7, 5, 3, 1};
    uint8_t key = 0;
    for (int i = 0; i < 8 && password[i]; ++i)
        key |= uint8_t(password[i]) & (1u << kBit[i]);
    return key;
}

void CPackFile::ReportProgress(uint64_t wParam) {
    if (g_ProgressHook && m_hWindow)
        g_ProgressHook(m_hWindow, kPackProgressMessage, wParam, 0);
}

std::string CPackFile::JournalPath() const {
    return m_LocalPath + ".jnl";
}

int CPackFile::Open(const char* path, const char* password, int mode) {
    if (m_pFile) {
        Close();
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    m_szPath[0] = '\0';
    t_szRefusal = "";
    std::string stored = path ? ToStored(path) : std::string();
    if (!path || !*path || !ValidMode(mode) || stored.size() >= sizeof m_szPath) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    m_LocalPath = ToLocal(path);
    m_byDataKey = DataKeyFromPassword(password ? password : kPackDefaultPassword);
    int ok = (mode & PACK_MODE_CREATE) ? CreateNew() : OpenExisting(mode);
    if (!ok) {
        uint32_t error = plat::GetLastError();
        ForgetArchive();
        plat::SetLastError(error);
        return 0;
    }
    std::snprintf(m_szPath, sizeof m_szPath, "%s", stored.c_str());
    return 1;
}

int CPackFile::OpenExisting(int mode) {
    bool writable = (mode & PACK_MODE_WRITE) || (mode & 7) == 0;
    // A Close cut short is finished before anyone reads the pack.
    if (!ReplayJournal())
        return 0;
    m_pFile = std::fopen(m_LocalPath.c_str(), writable ? "r+b" : "rb");
    if (!m_pFile) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    // Reads and writes come in whole chunks at scattered offsets: a stream
    // buffer would only add a copy and a flush at every seek.
    std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    if (!plat::TryLockFile(m_pFile, writable))
        return 0;
    m_bWritable = writable;
    return LoadMetadata();
}

int CPackFile::CreateNew() {
    if (std::FILE* old = std::fopen(m_LocalPath.c_str(), "rb")) {
        bool free = plat::TryLockFile(old, true);
        std::fclose(old);
        if (!free)
            return 0;
    }
    m_pTree = std::make_unique<CPackFileTree>();
    m_FreeSize.reset(new uint64_t[kFreeEntries]());
    m_FreeOffset.reset(new uint64_t[kFreeEntries]());
    m_pFreeIndex = std::make_unique<FreeIndex>();
    m_pFreeIndex->Build(m_FreeSize.get(), m_FreeOffset.get());
    m_nTreeArea = kMinTreeArea;
    m_nEndOfData = kTreeOffset + kMinTreeArea;
    // The empty pack appears under its name complete or not at all, so a
    // run cut short finds either no pack or a valid one.
    std::string blob;
    BuildMetadata(blob);
    std::string temp = m_LocalPath + ".new";
    if (!plat::WriteWholeFile(temp, blob.data(), blob.size()))
        return 0;
    plat::DeleteFile(JournalPath());
    if (!plat::MoveFile(temp, m_LocalPath)) {
        uint32_t error = plat::GetLastError();
        plat::DeleteFile(temp);
        plat::SetLastError(error);
        return 0;
    }
    m_pFile = std::fopen(m_LocalPath.c_str(), "r+b");
    if (!m_pFile) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    if (!plat::TryLockFile(m_pFile, true))
        return 0;
    m_bWritable = true;
    m_bDirty = true;
    return 1;
}

int CPackFile::LoadMetadata() {
    uint64_t fileSize = 0;
    if (!plat::StreamLength(m_pFile, fileSize))
        return Refuse(kErrorInvalidData, "size unknown");
    std::vector<uint8_t> head(kTreeOffset);
    if (fileSize < 10 || !ReadAt(m_pFile, 0, head.data(), 10)) {
        return Refuse(kErrorInvalidData, "too short");
    }
    ScrambleHeader(head.data(), 10);
    uint16_t version = Load<uint16_t>(&head[4]);
    DebugOut("Now Packing File Version : %d, Packing Library Version : %d", version,
             kLayoutVersion);
    if (version < kLayoutVersion) {
        return Refuse(plat::ERROR_NOT_SUPPORTED_CODE,
                      "layout version older than 1990; its layout is unknown to this program");
    }
    if (fileSize < kTreeOffset + kTreeHeaderSize || !ReadAt(m_pFile, 0, head.data(), kTreeOffset)) {
        return Refuse(kErrorInvalidData, "metadata truncated");
    }
    ScrambleHeader(head.data(), kHeaderSize);
    uint32_t signature = Load<uint32_t>(&head[0]);
    if (signature != kSignaturePlain && signature != kSignatureKeyed) {
        return Refuse(kErrorInvalidData, "bad signature");
    }
    DebugOut(version == kLayoutVersion ? "header is Final Version\n" : "header invalid\n");
    if (Load<uint32_t>(&head[6]) == 1) {
        return Refuse(plat::ERROR_SHARING_VIOLATION_CODE, "busy mark set");
    }
    m_nTreeArea = std::max(Load<uint64_t>(&head[10]), kMinTreeArea);
    if (m_nTreeArea > kMaxTreeArea)
        return Refuse(kErrorInvalidData, "absurd tree area");
    // A pack closed with nothing in it ends before its data region begins.
    m_nEndOfData = std::max(Load<uint64_t>(&head[18]), kTreeOffset + m_nTreeArea);
    if (m_nEndOfData > kMaxEndOfData)
        return Refuse(kErrorInvalidData, "absurd end of data");
    m_FreeSize.reset(new uint64_t[kFreeEntries]);
    m_FreeOffset.reset(new uint64_t[kFreeEntries]);
    std::memcpy(m_FreeSize.get(), &head[kFreeSizesOffset], kFreeEntries * 8);
    std::memcpy(m_FreeOffset.get(), &head[kFreeOffsetsOffset], kFreeEntries * 8);
    uint64_t dataStart = kTreeOffset + m_nTreeArea;
    for (size_t i = 0; i < kFreeEntries; ++i) {
        uint64_t s = m_FreeSize[i], o = m_FreeOffset[i];
        if (s != 0 && (o < dataStart || o > m_nEndOfData || s > m_nEndOfData - o)) {
            return Refuse(kErrorInvalidData, "free block outside the data region");
        }
    }
    m_pFreeIndex = std::make_unique<FreeIndex>();
    m_pFreeIndex->Build(m_FreeSize.get(), m_FreeOffset.get());
    return LoadTree(fileSize);
}

int CPackFile::LoadTree(uint64_t fileSize) {
    uint8_t th[kTreeHeaderSize];
    if (!ReadAt(m_pFile, kTreeOffset, th, sizeof th))
        return Refuse(kErrorInvalidData, "no tree");
    uint64_t length = Load<uint64_t>(th + 8);
    if (Load<uint32_t>(th) != CPackFileTree::kMagic || Load<uint32_t>(th + 4) != 0) {
        return Refuse(kErrorInvalidData, "bad tree header");
    }
    if (length > m_nTreeArea - kTreeHeaderSize ||
        length > fileSize - kTreeOffset - kTreeHeaderSize) {
        return Refuse(kErrorInvalidData, "node stream longer than its area or the file");
    }
    std::vector<uint8_t> stream(length);
    if (!ReadAt(m_pFile, kTreeOffset + kTreeHeaderSize, stream.data(), length)) {
        return Refuse(kErrorInvalidData, "node stream unreadable");
    }
    m_pTree = std::make_unique<CPackFileTree>();
    if (!m_pTree->Parse(stream.data(), stream.size())) {
        return Refuse(kErrorInvalidData, "malformed node stream");
    }
    uint64_t dataStart = kTreeOffset + m_nTreeArea;
    uint64_t limit = std::min(fileSize, m_nEndOfData);
    bool ok = true;
    m_pTree->ForEachBelow(m_pTree->Root(), [&](const PackNode* n) {
        if (n->IsDirectory() || n->size == 0)
            return;
        if (n->offset < dataStart || n->offset > limit || n->size > limit - n->offset)
            ok = false;
    });
    if (!ok)
        return Refuse(kErrorInvalidData, "file content outside the data region");
    return 1;
}

void CPackFile::BuildMetadata(std::string& blob) const {
    std::string stream;
    m_pTree->Serialize(stream);
    blob.assign(kTreeOffset + kTreeHeaderSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(blob.data());
    Store<uint32_t>(p, m_byDataKey ? kSignatureKeyed : kSignaturePlain);
    Store<uint16_t>(p + 4, kLayoutVersion);
    Store<uint32_t>(p + 6, 0);
    Store<uint64_t>(p + 10, m_nTreeArea);
    Store<uint64_t>(p + 18, m_nEndOfData);
    Store<uint64_t>(p + 26, kTreeOffset + kTreeHeaderSize + stream.size());
    ScrambleHeader(p, kHeaderSize);
    std::memcpy(p + kFreeSizesOffset, m_FreeSize.get(), kFreeEntries * 8);
    std::memcpy(p + kFreeOffsetsOffset, m_FreeOffset.get(), kFreeEntries * 8);
    Store<uint32_t>(p + kTreeOffset, CPackFileTree::kMagic);
    Store<uint64_t>(p + kTreeOffset + 8, uint64_t(stream.size()));
    blob += stream;
}

int CPackFile::Close() {
    if (!m_pFile)
        return 1;
    int ok = (m_bWritable && m_bDirty) ? Commit() : 1;
    uint32_t error = plat::GetLastError();
    ForgetArchive();
    if (!ok)
        plat::SetLastError(error);
    return ok;
}

int CPackFile::Commit() {
    uint64_t need = kTreeHeaderSize + m_pTree->SerializedSize();
    uint64_t area = m_nTreeArea;
    while (need > area)
        area *= 3;
    uint64_t growth = area - m_nTreeArea;
    uint64_t moveFrom = kTreeOffset + m_nTreeArea, moveEnd = m_nEndOfData;
    if (growth) {
        m_nTreeArea = area;
        m_nEndOfData += growth;
        for (size_t i = 0; i < kFreeEntries; ++i) {
            if (m_FreeSize[i] || m_FreeOffset[i])
                m_FreeOffset[i] += growth;
        }
        m_pTree->ForEachBelow(m_pTree->Root(), [&](const PackNode* n) {
            if (!n->IsDirectory())
                const_cast<PackNode*>(n)->offset += growth;
        });
    }
    std::string blob;
    BuildMetadata(blob);
    // Recorded in the journal before the pack is touched.
    return CommitThroughJournal(moveFrom, moveEnd, growth, std::move(blob));
}

void CPackFile::ForgetArchive() {
    if (m_pFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
    m_szPath[0] = '\0';
    m_bWritable = m_bDirty = false;
    m_pTree.reset();
    m_FreeSize.reset();
    m_FreeOffset.reset();
    m_pFreeIndex.reset();
    m_nTreeArea = m_nEndOfData = 0;
}

int CPackFile::RepairSignature(const char* path) {
    std::FILE* f = std::fopen(ToLocal(path).c_str(), "r+b");
    if (!f) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) {  // nothing to repair in a stub
        std::fclose(f);
        return 1;
    }
    const uint32_t key = Load<uint32_t>(reinterpret_cast<const uint8_t*>(kPackKey));
    uint32_t v = Load<uint32_t>(b), value;
    if (v == kOldSignaturePlain) {
        value = kSignaturePlain;
    } else if (v == kOldSignatureKeyed) {
        value = kSignatureKeyed;
    } else {
        uint32_t w = v ^ key;
        if (w == kSignaturePlain || w == kSignatureKeyed) {
            std::fclose(f);
            return 1;
        }
        value = w == kOldSignaturePlain   ? kSignaturePlain
                : w == kOldSignatureKeyed ? kSignatureKeyed
                                          : w;
    }
    Store<uint32_t>(b, value ^ key);
    WriteAt(f, 0, b, 4);
    std::fclose(f);
    return 1;
}

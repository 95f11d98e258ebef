// CPackFile: one open pack file (".lpk"), a single file holding a directory
// tree of game files. The patch engine keeps two of them open across calls
// (the installed pack and the patch's own pack).
//
// On-disk layout (little-endian):
//   0        34-byte header, XORed with the pack key
//   34       5000 x u64 free-block sizes
//   40034    5000 x u64 free-block offsets
//   80034    tree area: tree header (u32 'DT01', u32 0, u64 stream length)
//            and the node stream, then unused space up to the tree area size
//   80034+T  data region: file contents XORed with the data key byte
//
// Crash safety: content is only ever written into space that the committed
// metadata does not reference (free blocks, the end of the data region, or
// the block of a file deleted in this session, which the same update puts
// back). The metadata (header, free-block tables, tree) and any move of the
// data region are first recorded in a redo journal "<pack>.jnl" beside the
// pack; the next Open of the pack finishes an interrupted Close from it, or,
// when that Close had not yet changed a byte the pack uses, may drop it.
//
// Threads: one object is used by one thread at a time; objects share no
// state except the progress hook and the test write hook.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/UpdateTypes.h"

// Secrets of the format: packs are readable only with the same pair.
inline constexpr char kPackKey[24] = "q7vnx2kd9wmr4tbz8hcp3fj";  // 23 chars + NUL
inline constexpr char kPackDefaultPassword[9] = "lumhardo";

// Open modes (a bit set).
enum : int {
    PACK_MODE_READ = 1,
    PACK_MODE_WRITE = 2,
    PACK_MODE_CREATE = 4,
    PACK_MODE_CONTAINER = 8,
};

// Window message the pack layer reports its copy progress with.
constexpr uint32_t kPackProgressMessage = 0x79F;

class CPackFileTree;
struct PackNode;
struct PackSubFile;

class CPackFile {
public:
    // Progress hook standing in for the window message: called with the
    // window given to SetWindow, message 0x79F and its two parameters, on
    // the thread that works on the pack. Process-wide; null = none.
    using ProgressHook = void (*)(WindowHandle window, uint32_t message, uint64_t wParam,
                                  uint64_t lParam);
    static void SetProgressHook(ProgressHook hook);

    // Test hook called before every write to a pack or its journal with the
    // stream, offset and bytes about to be written (null/0 for the journal's
    // removal); the kill-and-rerun test ends the process from it, possibly
    // after writing a part of the bytes itself. Null = none.
    using WriteHook = void (*)(std::FILE* file, uint64_t offset, const void* data, size_t len);
    static void SetWriteHookForTests(WriteHook hook);

    CPackFile();
    ~CPackFile();  // closes (and commits) an open pack
    CPackFile(const CPackFile&) = delete;
    CPackFile& operator=(const CPackFile&) = delete;

    // Opens (mode 0xA, 1, 2, 8|1 ...) or creates (mode 4, 0xC) a pack; a null
    // password means the default one. Returns 0 when the object already holds
    // a pack (which it then closes), on a bad mode, or when the file cannot be
    // opened or is not a valid pack; the thread's last error tells why (32: the
    // pack is held open by another object or process). An interrupted Close
    // found beside the pack is finished first; when that cannot be done and
    // the pack had already begun to change, Open refuses it (LastRefusal).
    int Open(const char* path, const char* password, int mode);
    // Commits the changes of a pack opened for writing and forgets it; 1 on
    // success (also when nothing is open), 0 when a read or write failed. A
    // failed Close leaves the pack as it was before, except when the failure
    // came after bytes the pack uses had begun to change: then the next Open
    // finishes the commit.
    int Close();
    bool IsFileOpen() const { return m_pFile != nullptr; }
    // The path given to Open with "/" turned into "\"; "" when none.
    const char* GetPath() const { return m_szPath; }
    void SetWindow(WindowHandle window) { m_hWindow = window; }

    // Brings an older signature up to date in place. 0 only when the file
    // cannot be opened for reading and writing.
    static int RepairSignature(const char* path);

    // Opens a file inside the pack; mode 1 reads. Null when there is none
    // or it is a directory. Valid until CloseFile or Close.
    PackSubFile* OpenFile(const char* innerPath, int mode);
    // Reads exactly len bytes from the current position; 0 (nothing read)
    // when that passes the end of the file or the read fails.
    int ReadFile(PackSubFile* file, void* buffer, uint32_t len);
    void CloseFile(PackSubFile* file);
    // Size of an open sub-file.
    static uint64_t GetSubFileSize(const PackSubFile* file);

    // Removes a file (or directory with its contents) and frees its space.
    int DeleteFile(const char* innerPath);
    // Creates the directory and any missing parents; returns 1.
    int MakeDirectory(const char* innerPath);
    // Stores a local file as innerPath (which must not exist yet). localPath
    // may use "/" or "\". 1 on success.
    int AddFile(const char* localPath, const char* innerPath);
    // The same with the content from memory (size bytes at data).
    int AddData(const void* data, uint64_t size, const char* innerPath);

    // Inspection (tests and tools): 1 when innerPath names a file/directory.
    bool Exists(const char* innerPath) const;
    // Data offset and size of a file; false when there is none.
    bool GetFileInfo(const char* innerPath, uint64_t* offset, uint64_t* size) const;
    uint64_t GetTreeAreaSize() const { return m_nTreeArea; }
    uint64_t GetEndOfData() const { return m_nEndOfData; }
    uint8_t GetDataKey() const { return m_byDataKey; }
    // Calls fn(path, size) for every file, paths "\"-separated.
    template <class Fn>
    void ForEachFile(Fn fn) const;

    static uint8_t DataKeyFromPassword(const char* password);
    // Why the calling thread's last Open refused the file's content (e.g. a
    // layout older than 1990, a malformed tree, an interrupted Close it
    // cannot finish); "" when it did not.
    static const char* LastRefusal();

private:
    friend class CPackFileTree;
    int OpenExisting(int mode);
    int CreateNew();
    int LoadMetadata();
    int LoadTree(uint64_t fileSize);
    int Commit();
    void BuildMetadata(std::string& blob) const;
    // Journal (PackFileJournal.cpp): records a commit, then carries it out.
    struct Journal;
    int CommitThroughJournal(uint64_t moveFrom, uint64_t moveEnd, uint64_t growth,
                             std::string blob);
    int WriteJournal(const Journal& j);
    int ApplyJournal(Journal& j);
    int PrepareInPlace(Journal& j, std::FILE* journal);
    int FinishInPlace(Journal& j, std::FILE* journal);
    int MoveDataRegion(Journal& j, uint64_t downTo, std::FILE* journal);
    int ReplayJournal();
    void ForgetArchive();
    void ReleaseBlock(uint64_t offset, uint64_t size);
    uint64_t PlaceContent(uint64_t size);
    // Fills buf with the next n bytes of the content being added; false when
    // they cannot be had.
    using ContentReader = bool (*)(void* ctx, uint8_t* buf, size_t n);
    int CopyIntoPack(ContentReader read, void* ctx, uint64_t offset, uint64_t size);
    // AddFile's checks: the parent node of a new file (directories made),
    // its name in *name; null (last error set) when it cannot be added.
    PackNode* PrepareAdd(const char* innerPath, std::string* name);
    // Places and copies the content, then adds the node. 1 / 0.
    int StoreContent(PackNode* parent, const std::string& name, uint64_t size, ContentReader read,
                     void* ctx);
    void ReportProgress(uint64_t wParam);
    std::string JournalPath() const;
    void ForEachFileImpl(void (*fn)(void*, const std::string&, uint64_t), void* ctx) const;

    std::FILE* m_pFile = nullptr;
    WindowHandle m_hWindow = nullptr;
    char m_szPath[1024] = {};
    std::string m_LocalPath;
    bool m_bWritable = false;
    bool m_bDirty = false;
    uint8_t m_byDataKey = 0;
    uint64_t m_nTreeArea = 0;
    uint64_t m_nEndOfData = 0;
    std::unique_ptr<CPackFileTree> m_pTree;
    std::unique_ptr<uint64_t[]> m_FreeSize;
    std::unique_ptr<uint64_t[]> m_FreeOffset;
    struct FreeIndex;  // PackFileFreeIndex.h
    std::unique_ptr<FreeIndex> m_pFreeIndex;
};

template <class Fn>
void CPackFile::ForEachFile(Fn fn) const {
    ForEachFileImpl([](void* ctx, const std::string& path,
                       uint64_t size) { (*static_cast<Fn*>(ctx))(path, size); },
                    &fn);
}

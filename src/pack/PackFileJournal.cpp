// The commit journal of CPackFile. Close writes everything it is about to
// change into "<pack>.jnl" (made complete under a temporary name first), then
// moves the data region if the tree area grows, writes the metadata and
// deletes the journal. A process ended at any point leaves either no journal
// (the pack is as committed before, or as committed now) or a complete one,
// which the next Open carries out again. The move copies backwards in 64 KiB
// steps and records its progress in the journal after each step; since the
// region moves by at least 2 MiB, a step redone after an interruption still
// finds its source bytes intact.
//
// Journal layout: u32 magic, u32 0, u64 move start, u64 move end, u64 growth,
// u64 metadata length, u64 checksum (of the 40 bytes before it and the
// metadata), u64 move cursor (everything from the cursor to the move end has
// been moved), metadata bytes (header, free-block tables, tree).
#include <memory>
#include <vector>

#include "pack/PackFile.h"
#include "pack/PackFileFormat.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/FileLock.h"
#include "platform/Thread.h"

using namespace packfmt;

namespace {

constexpr uint32_t kJournalMagic = 0x314A5056;  // "VPJ1"
constexpr size_t kChecksumOffset = 40;
constexpr size_t kCursorOffset = 48;
constexpr size_t kJournalHeader = 56;

uint64_t Checksum(const uint8_t* head, const std::string& blob) {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    auto mix = [&h](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ p[i]) * 0x100000001b3ull;
    };
    mix(head, kChecksumOffset);
    mix(reinterpret_cast<const uint8_t*>(blob.data()), blob.size());
    return h;
}

}  // namespace

int CPackFile::WriteJournal(uint64_t moveFrom, uint64_t moveEnd, uint64_t growth,
                            const std::string& blob) {
    std::string j(kJournalHeader, '\0');
    auto* p = reinterpret_cast<uint8_t*>(j.data());
    Store<uint32_t>(p, kJournalMagic);
    Store<uint64_t>(p + 8, moveFrom);
    Store<uint64_t>(p + 16, moveEnd);
    Store<uint64_t>(p + 24, growth);
    Store<uint64_t>(p + 32, uint64_t(blob.size()));
    Store<uint64_t>(p + kChecksumOffset, Checksum(p, blob));
    Store<uint64_t>(p + kCursorOffset, moveEnd);
    j += blob;
    std::string temp = JournalPath() + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    BeforeWrite(f, 0, j.data(), j.size());
    bool ok = std::fwrite(j.data(), 1, j.size(), f) == j.size() && plat::FlushFile(f);
    if (!ok)
        plat::SetLastErrorFromErrno();
    std::fclose(f);
    if (!ok || !plat::MoveFile(temp, JournalPath())) {
        plat::DeleteFile(temp);
        return 0;
    }
    return 1;
}

int CPackFile::ApplyJournal(uint64_t moveFrom, uint64_t moveEnd, uint64_t growth, uint64_t cursor,
                            const std::string& blob) {
    if (growth && cursor > moveFrom && moveEnd > moveFrom) {
        std::FILE* journal = std::fopen(JournalPath().c_str(), "r+b");
        if (!journal) {
            plat::SetLastErrorFromErrno();
            return 0;
        }
        int moved = MoveDataRegion(moveFrom, cursor, growth, journal);
        std::fclose(journal);
        if (!moved)
            return 0;
    }
    if (!WriteAt(m_pFile, 0, blob.data(), blob.size()) || !plat::FlushFile(m_pFile))
        return 0;
    BeforeWrite(nullptr, 0, nullptr, 0);
    plat::DeleteFile(JournalPath());
    return 1;
}

int CPackFile::MoveDataRegion(uint64_t from, uint64_t cursor, uint64_t growth, std::FILE* journal) {
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyChunk]);
    uint64_t pos = cursor;
    while (pos > from) {
        size_t n = size_t(std::min<uint64_t>(kCopyChunk, pos - from));
        uint64_t src = pos - n;
        if (!ReadAt(m_pFile, src, buf.get(), n) || !WriteAt(m_pFile, src + growth, buf.get(), n) ||
            std::fflush(m_pFile) != 0) {
            return 0;
        }
        pos = src;
        // The step is on its way to the disk before the journal says so.
        if (!WriteAt(journal, kCursorOffset, &pos, sizeof pos) || std::fflush(journal) != 0) {
            return 0;
        }
        ReportProgress(0);
        // A suspended update holds between two steps, where the journal
        // already says how far the move got. The move itself never stops
        // half-way: the pack is consistent only once it is done.
        plat::SuspendPoint();
    }
    return plat::FlushFile(m_pFile) ? 1 : 0;
}

int CPackFile::ReplayJournal() {
    if (!plat::FileExists(JournalPath()))
        return 1;
    std::string j;
    if (!plat::ReadWholeFile(JournalPath(), j))
        return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(j.data());
    bool valid = j.size() >= kJournalHeader && Load<uint32_t>(p) == kJournalMagic &&
                 Load<uint64_t>(p + 32) == j.size() - kJournalHeader;
    std::string blob = valid ? j.substr(kJournalHeader) : std::string();
    uint64_t moveFrom = valid ? Load<uint64_t>(p + 8) : 0;
    uint64_t moveEnd = valid ? Load<uint64_t>(p + 16) : 0;
    uint64_t growth = valid ? Load<uint64_t>(p + 24) : 0;
    uint64_t cursor = valid ? Load<uint64_t>(p + kCursorOffset) : 0;
    valid = valid && Load<uint64_t>(p + kChecksumOffset) == Checksum(p, blob) &&
            blob.size() >= kTreeOffset && cursor >= moveFrom && cursor <= moveEnd &&
            (growth == 0 || growth >= kCopyChunk);
    if (!valid) {
        // Journals appear only complete; one that is not cannot be ours.
        DebugOut("Pack journal %s ignored\n", JournalPath().c_str());
        plat::DeleteFile(JournalPath());
        return 1;
    }
    m_pFile = std::fopen(m_LocalPath.c_str(), "r+b");
    if (!m_pFile) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    int ok = plat::TryLockFile(m_pFile, true)
                 ? ApplyJournal(moveFrom, moveEnd, growth, cursor, blob)
                 : 0;
    uint32_t error = plat::GetLastError();
    std::fclose(m_pFile);
    m_pFile = nullptr;
    plat::SetLastError(error);
    return ok;
}

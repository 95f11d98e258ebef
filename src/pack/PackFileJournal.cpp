// The commit journal of CPackFile. Close records everything it is about to
// change in "<pack>.jnl", made complete under a temporary name and renamed
// into place (the commit point), then carries it out in two phases:
//  1. Writes that land where the pack as it was keeps nothing: the new tree's
//     tail in the unused part of the tree area, and, when the tree area
//     grows, the top of the moved data region as far as it lands above the
//     old end of data. These are the writes that lengthen the file, so a
//     full disk shows here. A failure leaves the pack as it was; Close drops
//     the journal, and a later Open drops one it cannot carry out.
//  2. The journal is marked: from now on bytes the pack uses change, and only
//     finishing gives a consistent pack again. The rest of the move copies
//     backwards in 64 KiB steps and records its progress in the journal
//     after each step, then the metadata is written and the journal deleted.
//     A failure keeps the journal; the next Open finishes the job, and
//     refuses the pack, saying why, while it cannot.
// Since the region moves by at least 2 MiB, a step redone after an
// interruption still finds its source bytes intact. Bytes of the data region
// past the physical end of the file do not exist: there is nothing to move,
// and after the move they are just as absent, higher up.
//
// Journal layout: u32 magic, u32 mark (1 once phase 2 began), u64 move
// start, u64 move end, u64 growth, u64 metadata length, u64 checksum (of the
// 40 bytes before it, the mark taken as 0, and the metadata), u64 move cursor
// (everything from the cursor to the move end has been moved), metadata
// bytes (header, free-block tables, tree).
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
constexpr size_t kMarkOffset = 4;
constexpr size_t kChecksumOffset = 40;
constexpr size_t kCursorOffset = 48;
constexpr size_t kJournalHeader = 56;

constexpr uint32_t kErrorInvalidData = 13;  // ERROR_INVALID_DATA

const char* const kDamagedAfterStart =
    "the journal of an interrupted close is damaged and the pack had already begun to change: "
    "restore or reinstall the pack";
const char* const kCannotFinish =
    "an interrupted close cannot be finished (the system error says why) and the pack had "
    "already begun to change: free disk space or repair the disk, then open it again";

uint64_t Checksum(const uint8_t* head, const std::string& blob) {
    uint8_t h[kChecksumOffset];
    std::memcpy(h, head, sizeof h);
    Store<uint32_t>(h + kMarkOffset, 0);   // the mark is set later, in place
    uint64_t sum = 0xcbf29ce484222325ull;  // FNV-1a
    auto mix = [&sum](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            sum = (sum ^ p[i]) * 0x100000001b3ull;
    };
    mix(h, sizeof h);
    mix(reinterpret_cast<const uint8_t*>(blob.data()), blob.size());
    return sum;
}

}  // namespace

struct CPackFile::Journal {
    uint64_t moveFrom = 0, moveEnd = 0, growth = 0;
    uint64_t cursor = 0;   // everything from here to moveEnd has been moved
    bool started = false;  // phase 2 began: bytes the pack uses may have changed
    std::string blob;      // the metadata as it will be

    std::string Bytes() const;
    // Null when raw is a journal this program wrote, else why not.
    const char* Parse(const std::string& raw);
};

std::string CPackFile::Journal::Bytes() const {
    std::string j(kJournalHeader, '\0');
    auto* p = reinterpret_cast<uint8_t*>(j.data());
    Store<uint32_t>(p, kJournalMagic);
    Store<uint32_t>(p + kMarkOffset, started ? 1 : 0);
    Store<uint64_t>(p + 8, moveFrom);
    Store<uint64_t>(p + 16, moveEnd);
    Store<uint64_t>(p + 24, growth);
    Store<uint64_t>(p + 32, uint64_t(blob.size()));
    Store<uint64_t>(p + kChecksumOffset, Checksum(p, blob));
    Store<uint64_t>(p + kCursorOffset, cursor);
    return j + blob;
}

const char* CPackFile::Journal::Parse(const std::string& raw) {
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    if (raw.size() < 8 || Load<uint32_t>(p) != kJournalMagic)
        return "no journal";
    started = Load<uint32_t>(p + kMarkOffset) != 0;
    if (raw.size() < kJournalHeader || Load<uint64_t>(p + 32) != raw.size() - kJournalHeader)
        return "truncated";
    blob = raw.substr(kJournalHeader);
    if (Load<uint64_t>(p + kChecksumOffset) != Checksum(p, blob))
        return "checksum mismatch";
    moveFrom = Load<uint64_t>(p + 8);
    moveEnd = Load<uint64_t>(p + 16);
    growth = Load<uint64_t>(p + 24);
    cursor = Load<uint64_t>(p + kCursorOffset);
    bool sane = blob.size() >= kTreeOffset + kTreeHeaderSize &&
                moveFrom >= kTreeOffset + kMinTreeArea && moveFrom <= moveEnd &&
                moveEnd <= kMaxEndOfData && cursor >= moveFrom && cursor <= moveEnd &&
                (growth == 0 || (growth >= kCopyChunk && growth <= kMaxTreeArea)) &&
                blob.size() <= moveFrom + growth;  // the metadata fits its tree area
    return sane ? nullptr : "fields out of range";
}

int CPackFile::CommitThroughJournal(uint64_t moveFrom, uint64_t moveEnd, uint64_t growth,
                                    std::string blob) {
    Journal j;
    j.moveFrom = moveFrom;
    j.moveEnd = j.cursor = moveEnd;
    j.growth = growth;
    j.blob = std::move(blob);
    if (!WriteJournal(j))
        return 0;  // not committed, nothing written
    if (ApplyJournal(j))
        return 1;
    uint32_t error = plat::GetLastError();
    if (!j.started)
        plat::DeleteFile(JournalPath());  // the pack is still as it was
    plat::SetLastError(error);
    return 0;
}

int CPackFile::WriteJournal(const Journal& j) {
    const std::string bytes = j.Bytes();
    std::string temp = JournalPath() + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    BeforeWrite(f, 0, bytes.data(), bytes.size());
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && plat::FlushFile(f);
    if (!ok)
        plat::SetLastErrorFromErrno();
    std::fclose(f);
    if (!ok || !plat::MoveFile(temp, JournalPath())) {
        uint32_t error = plat::GetLastError();
        plat::DeleteFile(temp);
        plat::SetLastError(error);
        return 0;
    }
    return 1;
}

int CPackFile::ApplyJournal(Journal& j) {
    std::FILE* journal = std::fopen(JournalPath().c_str(), "r+b");
    if (!journal) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    int ok = (j.started || PrepareInPlace(j, journal)) && FinishInPlace(j, journal);
    std::fclose(journal);
    if (!ok)
        return 0;
    BeforeWrite(nullptr, 0, nullptr, 0);
    plat::DeleteFile(JournalPath());
    return 1;
}

int CPackFile::PrepareInPlace(Journal& j, std::FILE* journal) {
    uint64_t length = 0;
    uint8_t th[kTreeHeaderSize];
    if (!plat::StreamLength(m_pFile, length) || !ReadAt(m_pFile, kTreeOffset, th, sizeof th))
        return 0;
    const uint64_t stream = Load<uint64_t>(th + 8);
    const uint64_t top = std::max(j.moveFrom, std::min(j.moveEnd, length));
    const bool moves = j.growth && top > j.moveFrom;
    // Behind the old node stream the tree area is unused, and so is what
    // follows it when there is no data to move out of the way.
    const uint64_t unusedEnd =
        moves ? std::min<uint64_t>(j.blob.size(), j.moveFrom) : j.blob.size();
    const uint64_t from =
        stream < j.blob.size() ? kTreeOffset + kTreeHeaderSize + stream : j.blob.size();
    if (from < unusedEnd &&
        !WriteAt(m_pFile, from, j.blob.data() + from, size_t(unusedEnd - from))) {
        return 0;
    }
    if (j.growth && j.cursor == j.moveEnd) {
        j.cursor = top;
        // Targets at or above the old end of data hold nothing in use.
        uint64_t inUse = top - j.moveFrom > j.growth ? top - j.growth : j.moveFrom;
        if (moves && !MoveDataRegion(j, inUse, journal))
            return 0;
    }
    // What the mark covers is on the disk before the mark.
    const uint32_t mark = 1;
    if (!plat::FlushFile(m_pFile) || !WriteAt(journal, kCursorOffset, &j.cursor, sizeof j.cursor) ||
        !WriteAt(journal, kMarkOffset, &mark, sizeof mark) || !plat::FlushFile(journal)) {
        return 0;
    }
    j.started = true;
    return 1;
}

int CPackFile::FinishInPlace(Journal& j, std::FILE* journal) {
    if (j.growth) {
        uint64_t length = 0;
        if (!plat::StreamLength(m_pFile, length))
            return 0;
        j.cursor = std::max(j.moveFrom, std::min(j.cursor, length));
        if (!MoveDataRegion(j, j.moveFrom, journal) || !plat::FlushFile(m_pFile))
            return 0;
    }
    return WriteAt(m_pFile, 0, j.blob.data(), j.blob.size()) && plat::FlushFile(m_pFile) ? 1 : 0;
}

int CPackFile::MoveDataRegion(Journal& j, uint64_t downTo, std::FILE* journal) {
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyChunk]);
    while (j.cursor > downTo) {
        size_t n = size_t(std::min<uint64_t>(kCopyChunk, j.cursor - downTo));
        uint64_t src = j.cursor - n;
        if (!ReadAt(m_pFile, src, buf.get(), n) ||
            !WriteAt(m_pFile, src + j.growth, buf.get(), n) || std::fflush(m_pFile) != 0) {
            return 0;
        }
        j.cursor = src;
        // The step is on its way to the disk before the journal says so.
        if (!WriteAt(journal, kCursorOffset, &j.cursor, sizeof j.cursor) ||
            std::fflush(journal) != 0) {
            return 0;
        }
        ReportProgress(0);
        // A suspended update holds between two steps, where the journal
        // already says how far the move got. The move itself never stops
        // half-way: the pack is consistent only once it is done.
        plat::SuspendPoint();
    }
    return 1;
}

int CPackFile::ReplayJournal() {
    const std::string path = JournalPath();
    if (!plat::FileExists(path))
        return 1;
    std::string raw;
    if (!plat::ReadWholeFile(path, raw)) {
        if (!plat::FileExists(path))
            return 1;  // its close just finished it
        return Refuse(plat::GetLastError(), "the journal of an interrupted close cannot be read");
    }
    Journal j;
    const char* damage = j.Parse(raw);
    m_pFile = std::fopen(m_LocalPath.c_str(), "r+b");
    if (!m_pFile) {
        plat::SetLastErrorFromErrno();
    } else {
        std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    }
    if (m_pFile && !plat::TryLockFile(m_pFile, true)) {
        std::fclose(m_pFile);  // its holder may be carrying the journal out
        m_pFile = nullptr;
        return 0;
    }
    int ok = m_pFile && !damage && ApplyJournal(j);
    uint32_t error = plat::GetLastError();
    if (m_pFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
    if (ok)
        return 1;
    if (!j.started) {
        // Its close never changed a byte the pack uses: the pack is as it
        // was before, and the journal is of no further use.
        DebugOut("Pack journal %s dropped: %s\n", path.c_str(),
                 damage ? damage : "it cannot be carried out");
        plat::DeleteFile(path);
        return 1;
    }
    return damage ? Refuse(kErrorInvalidData, kDamagedAfterStart) : Refuse(error, kCannotFinish);
}

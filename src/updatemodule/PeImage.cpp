// CPeImage: the headers, the section table and the walk down the resource
// directory to the fixed version record.
#include "updatemodule/PeImage.h"

#include <cstring>

namespace {

// Layout of the headers (offsets in bytes).
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kFileHeaderSize = 20;  // after the 4-byte "PE\0\0"
constexpr uint32_t kOptionalHeaderStart = 4 + kFileHeaderSize;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
// Where the data directory count and the directories begin in the optional
// header of either kind.
constexpr uint32_t kDirCountPe32 = 92, kDirsPe32 = 96;
constexpr uint32_t kDirCountPe32Plus = 108, kDirsPe32Plus = 112;
constexpr uint32_t kResourceDirIndex = 2;
constexpr uint32_t kDataDirSize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
// The Windows loader takes no more.
constexpr uint32_t kMaxSections = 96;

// The resource directory.
constexpr uint32_t kResDirHeaderSize = 16;
constexpr uint32_t kResEntrySize = 8;
constexpr uint32_t kResDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVsVersionInfoId = 1;
// Entries examined per read while a directory is searched.
constexpr uint32_t kEntryChunk = 64;

// VS_VERSIONINFO: three 16-bit words, the key "VS_VERSION_INFO" in UTF-16
// with its zero, padding to 32 bits, then VS_FIXEDFILEINFO (52 bytes).
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr uint32_t kKeyOffset = 6;
constexpr uint32_t kFixedInfoOffset = 40;
constexpr uint32_t kFixedInfoSize = 52;
constexpr uint32_t kVersionHeadSize = kFixedInfoOffset + kFixedInfoSize;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool CPeMemorySource::Read(uint64_t offset, void* out, size_t size) const {
    if (offset > m_size || size > m_size - offset) {
        return false;
    }
    if (size != 0) {
        std::memcpy(out, m_data + offset, size);
    }
    return true;
}

bool CPeImage::Open(const CPeSource& source) {
    *this = CPeImage();
    uint8_t dos[kDosHeaderSize];
    if (!source.Read(0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const uint32_t pe = U32(dos + kPeOffsetField);
    uint8_t head[kOptionalHeaderStart + 2];
    if (!source.Read(pe, head, sizeof(head)) || std::memcmp(head, "PE\0\0", 4) != 0) {
        return false;
    }
    const uint16_t sectionCount = U16(head + 4 + 2);
    const uint16_t optionalSize = U16(head + 4 + 16);
    const uint16_t magic = U16(head + kOptionalHeaderStart);
    if ((magic != kMagicPe32 && magic != kMagicPe32Plus) || sectionCount > kMaxSections) {
        return false;
    }
    m_source = &source;
    m_is64 = magic == kMagicPe32Plus;
    const uint64_t optional = uint64_t{pe} + kOptionalHeaderStart;
    const uint32_t countAt = m_is64 ? kDirCountPe32Plus : kDirCountPe32;
    const uint32_t dirsAt = m_is64 ? kDirsPe32Plus : kDirsPe32;
    const uint32_t resourceAt = dirsAt + kResourceDirIndex * kDataDirSize;
    uint8_t dirCount[4];
    uint8_t resourceDir[kDataDirSize];
    // An image without a resource directory is still an image: it merely
    // has no version record.
    if (optionalSize >= resourceAt + kDataDirSize && source.Read(optional + countAt, dirCount, 4) &&
        U32(dirCount) > kResourceDirIndex &&
        source.Read(optional + resourceAt, resourceDir, sizeof(resourceDir))) {
        m_resourceRva = U32(resourceDir);
        m_resourceSize = U32(resourceDir + 4);
    }
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint8_t s[kSectionHeaderSize];
        if (!source.Read(table + uint64_t{i} * kSectionHeaderSize, s, sizeof(s))) {
            *this = CPeImage();
            return false;
        }
        m_sections.push_back({U32(s + 12), U32(s + 16), U32(s + 20)});
    }
    m_wineBuiltin = CheckWineSignature(pe);
    return true;
}

bool CPeImage::CheckWineSignature(uint32_t peOffset) {
    for (const char* signature : {kWineBuiltinSignature, kWinePlaceholderSignature}) {
        const size_t length = std::strlen(signature) + 1;
        // Wine's loader only looks where the signature fits before the PE
        // header; so do we.
        if (peOffset < kDosHeaderSize + length) {
            continue;
        }
        char text[sizeof(kWinePlaceholderSignature)];
        if (m_source->Read(kDosHeaderSize, text, length) &&
            std::memcmp(text, signature, length) == 0) {
            return true;
        }
    }
    return false;
}

bool CPeImage::RvaToOffset(uint32_t rva, uint32_t size, uint64_t& offset) const {
    for (const Section& s : m_sections) {
        if (rva >= s.virtualAddress &&
            uint64_t{rva} - s.virtualAddress + size <= uint64_t{s.rawSize}) {
            offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

bool CPeImage::ReadRva(uint32_t rva, void* out, uint32_t size) const {
    uint64_t offset = 0;
    return RvaToOffset(rva, size, offset) && m_source->Read(offset, out, size);
}

bool CPeImage::FindResourceEntry(uint32_t dirOffset, uint16_t id, uint32_t& target,
                                 bool& isDirectory) const {
    const uint64_t dirRva = uint64_t{m_resourceRva} + dirOffset;
    uint8_t head[kResDirHeaderSize];
    if (dirRva > UINT32_MAX || !ReadRva(static_cast<uint32_t>(dirRva), head, sizeof(head))) {
        return false;
    }
    const uint32_t named = U16(head + 12);
    const uint32_t total = named + U16(head + 14);
    // Named entries come first; an id is searched among the others only.
    uint32_t index = id == 0 ? 0 : named;
    while (index < total) {
        const uint32_t count = total - index < kEntryChunk ? total - index : kEntryChunk;
        uint8_t entries[kEntryChunk * kResEntrySize];
        const uint64_t at = dirRva + kResDirHeaderSize + uint64_t{index} * kResEntrySize;
        if (at > UINT32_MAX ||
            !ReadRva(static_cast<uint32_t>(at), entries, count * kResEntrySize)) {
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = entries + i * kResEntrySize;
            const uint32_t name = U32(e);
            if (id == 0 || ((name & kHighBit) == 0 && name == id)) {
                const uint32_t data = U32(e + 4);
                isDirectory = (data & kHighBit) != 0;
                target = data & ~kHighBit;
                return true;
            }
        }
        index += count;
    }
    return false;
}

bool CPeImage::FixedFileVersion(uint64_t& version) const {
    if (m_source == nullptr || m_resourceRva == 0 || m_resourceSize == 0) {
        return false;
    }
    // Type, name, language: two directories and a data entry, whatever the
    // offsets claim, so a directory that points back up ends the walk.
    uint32_t nameDir = 0, langDir = 0, dataEntry = 0;
    bool isDir = false;
    if (!FindResourceEntry(0, kRtVersion, nameDir, isDir) || !isDir ||
        !FindResourceEntry(nameDir, kVsVersionInfoId, langDir, isDir) || !isDir ||
        !FindResourceEntry(langDir, 0, dataEntry, isDir) || isDir) {
        return false;
    }
    const uint64_t entryRva = uint64_t{m_resourceRva} + dataEntry;
    uint8_t entry[kResDataEntrySize];
    if (entryRva > UINT32_MAX || !ReadRva(static_cast<uint32_t>(entryRva), entry, sizeof(entry))) {
        return false;
    }
    const uint32_t dataRva = U32(entry);
    const uint32_t dataSize = U32(entry + 4);
    // The whole record must lie in the file, though only its head is read.
    uint8_t info[kVersionHeadSize];
    uint64_t at = 0;
    if (dataSize < kVersionHeadSize || !RvaToOffset(dataRva, dataSize, at) ||
        at + dataSize > m_source->Size() || !m_source->Read(at, info, sizeof(info))) {
        return false;
    }
    const uint32_t length = U16(info);
    const uint32_t valueLength = U16(info + 2);
    if (length < kVersionHeadSize || length > dataSize || valueLength < kFixedInfoSize) {
        return false;
    }
    for (size_t i = 0; i < sizeof(kVersionKey); ++i) {
        if (U16(info + kKeyOffset + 2 * i) != static_cast<uint8_t>(kVersionKey[i])) {
            return false;
        }
    }
    const uint8_t* fixed = info + kFixedInfoOffset;
    if (U32(fixed) != kFixedInfoSignature) {
        return false;
    }
    version = uint64_t{U32(fixed + 8)} << 32 | U32(fixed + 12);
    return true;
}

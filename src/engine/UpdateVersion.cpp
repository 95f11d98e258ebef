#include "engine/UpdateVersion.h"

#include <cstdio>
#include <cstring>

#include "base/UpdaterBase.h"
#include "platform/File.h"

namespace {

uint32_t ReadU32(const std::string& buf, size_t offset) {
    const auto* p = reinterpret_cast<const uint8_t*>(buf.data()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Fixed-width fields need not hold a terminator in the file; the copy always
// has one, so a hostile file cannot make later string use run off the field.
template <size_t N>
void CopyField(char (&dst)[N], const std::string& buf, size_t offset) {
    static_assert(N > 0);
    const char* src = buf.data() + offset;
    size_t len = strnlen(src, N - 1);
    memcpy(dst, src, len);
    memset(dst + len, 0, N - len);
}

}  // namespace

void CUpdateVersion::SetPath(const char* path) {
    snprintf(m_szPath, sizeof(m_szPath), "%s", path ? path : "");
}

uint64_t CUpdateVersion::RequiredSize(uint32_t nameCount, uint32_t fileCount) {
    // 64-bit arithmetic: 261 * 2^32 + 350 * 2^32 stays far below 2^64.
    return uint64_t(uvf::kHeaderSize) + uint64_t(uvf::kNameRecordSize) * nameCount +
           uint64_t(uvf::kEntrySize) * fileCount + uvf::kTrailerSize;
}

bool CUpdateVersion::LoadUpdateVersion() {
    plat::CriticalSectionLock lock(m_cs);
    std::string data;
    if (!plat::ReadWholeFile(m_szPath, data))
        return false;
    ResetLocked();
    if (data.size() < uvf::kHeaderSize + uvf::kTrailerSize)
        return false;
    ScrambleBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());

    uint32_t nameCount = ReadU32(data, uvf::kNameCountOffset);
    uint32_t fileCount = ReadU32(data, uvf::kFileCountOffset);
    if (RequiredSize(nameCount, fileCount) > data.size())
        return false;

    m_Buffer = std::move(data);
    ParseHeader();
    m_nNameCount = nameCount;
    m_nFileCount = fileCount;
    m_nListAOffset = uvf::kHeaderSize;
    m_nListBOffset = uvf::kHeaderSize + size_t(uvf::kNameRecordSize) * nameCount;
    TerminateEntryStrings();
    m_nTrailer1 = ReadU32(m_Buffer, m_Buffer.size() - 8);
    m_nTrailer2 = ReadU32(m_Buffer, m_Buffer.size() - 4);
    return true;
}

void CUpdateVersion::TerminateEntryStrings() {
    // Users of the list treat hash and name as C strings; an unterminated
    // field from a damaged file would run on into the next fields. A valid
    // file has a zero in these places already.
    for (uint32_t i = 0; i < m_nFileCount; ++i) {
        size_t entry = m_nListBOffset + size_t(i) * uvf::kEntrySize;
        m_Buffer[entry + uvf::kEntryHashOffset + uvf::kEntryHashSize - 1] = '\0';
        m_Buffer[entry + uvf::kEntryNameOffset + uvf::kEntryNameSize - 1] = '\0';
    }
}

void CUpdateVersion::ParseHeader() {
    CopyField(m_szUpdateName, m_Buffer, uvf::kUpdateNameOffset);
    CopyField(m_szUpdateVersion, m_Buffer, uvf::kUpdateVersionOffset);
    CopyField(m_szLauncherVersion, m_Buffer, uvf::kLauncherVersionOffset);
    CopyField(m_szMinorVersion, m_Buffer, uvf::kMinorVersionOffset);
    CopyField(m_szExecutePath, m_Buffer, uvf::kExecutePathOffset);
    CopyField(m_szLatestVersion, m_Buffer, uvf::kLatestVersionOffset);
    CopyField(m_szPrimaryVersion, m_Buffer, uvf::kPrimaryVersionOffset);
    CopyField(m_szEndVersion, m_Buffer, uvf::kEndVersionOffset);
    m_nReserved1 = ReadU32(m_Buffer, uvf::kReserved1Offset);
    m_nReserved2 = ReadU32(m_Buffer, uvf::kReserved2Offset);
    m_nReserved3 = ReadU32(m_Buffer, uvf::kReserved3Offset);
}

void CUpdateVersion::Reset() {
    plat::CriticalSectionLock lock(m_cs);
    ResetLocked();
}

void CUpdateVersion::ResetLocked() {
    std::string().swap(m_Buffer);
    m_nListAOffset = m_nListBOffset = 0;
    m_nReserved1 = m_nReserved2 = m_nReserved3 = 0;
    m_nNameCount = m_nFileCount = 0;
    m_nTrailer1 = m_nTrailer2 = 0;
}

const UpdateFileEntry* CUpdateVersion::GetFileList(uint32_t* fileCount) {
    plat::CriticalSectionLock lock(m_cs);
    if (fileCount)
        *fileCount = m_nFileCount;
    if (m_Buffer.empty())
        return nullptr;
    // The entry type is packed (alignment 1), so any buffer position is fine.
    return reinterpret_cast<const UpdateFileEntry*>(m_Buffer.data() + m_nListBOffset);
}

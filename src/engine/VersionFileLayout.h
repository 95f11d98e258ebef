// Plain layout of the fixed-layout version files (update.uvf, version.uvf,
// filelist.uvf). Shared by the engine's reader and the publisher's writer.
// Integers are 32-bit little-endian; strings are zero-terminated fields.
#pragma once
#include <cstddef>
#include <cstdint>

namespace uvf {

constexpr size_t kUpdateNameOffset = 0, kUpdateNameSize = 30;
constexpr size_t kUpdateVersionOffset = 30, kVersionSize = 20;
constexpr size_t kLauncherVersionOffset = 50;
constexpr size_t kMinorVersionOffset = 70;
constexpr size_t kExecutePathOffset = 90, kExecutePathSize = 260;
constexpr size_t kLatestVersionOffset = 350;
constexpr size_t kPrimaryVersionOffset = 370;
constexpr size_t kEndVersionOffset = 390;
constexpr size_t kReserved1Offset = 410;
constexpr size_t kReserved2Offset = 414;
constexpr size_t kReserved3Offset = 418;
constexpr size_t kNameCountOffset = 422;
constexpr size_t kFileCountOffset = 426;
constexpr size_t kHeaderSize = 430;
constexpr size_t kNameRecordSize = 261;
constexpr size_t kTrailerSize = 8;

// UpdateFileEntry: one file of a patch.
constexpr size_t kEntrySize = 350;
constexpr size_t kEntryHashOffset = 0, kEntryHashSize = 41;
constexpr size_t kEntryNameOffset = 41, kEntryNameSize = 260;
constexpr size_t kEntryTypeOffset = 301;
constexpr size_t kEntryFileSizeOffset = 306;

// Update types of an entry.
enum : uint8_t {
    UPDATE_TYPE_NORMAL = 0,
    UPDATE_TYPE_CONFIG = 1,
    UPDATE_TYPE_NONE = 2,
    UPDATE_TYPE_PACK = 3,
};

}  // namespace uvf

#pragma pack(push, 1)
// In-memory view of one 350-byte entry of list B.
struct UpdateFileEntry {
    char szHash[41];
    char szFileName[260];
    uint8_t byUpdateType;
    uint8_t reserved1[4];
    uint32_t nFileSize;
    uint8_t reserved2[40];
};
#pragma pack(pop)
static_assert(sizeof(UpdateFileEntry) == uvf::kEntrySize, "UpdateFileEntry is 350 bytes");

// Constants and small helpers of the pack layout shared by the CPackFile
// sources (not part of the class's interface).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pack/PackFile.h"

namespace packfmt {

constexpr uint32_t kSignaturePlain = 0x7F3E2DFF;  // data key byte 0
constexpr uint32_t kSignatureKeyed = 0x7C7C1DDF;  // any other data key byte
constexpr uint32_t kOldSignaturePlain = 0x3C3C46E6;
constexpr uint32_t kOldSignatureKeyed = 0x3C3C4DA3;
constexpr uint16_t kLayoutVersion = 1990;

constexpr size_t kHeaderSize = 34;
constexpr size_t kFreeEntries = 5000;
constexpr uint64_t kFreeSizesOffset = 34;
constexpr uint64_t kFreeOffsetsOffset = 40034;
constexpr uint64_t kTreeOffset = 80034;
constexpr size_t kTreeHeaderSize = 16;
constexpr uint64_t kMinTreeArea = 0x100000;
// Far beyond any real pack; keeps offset arithmetic from overflowing.
constexpr uint64_t kMaxTreeArea = uint64_t(1) << 40;
constexpr uint64_t kMaxEndOfData = uint64_t(1) << 62;
constexpr uint64_t kBestFitLimit = 0x28000000;  // blocks this large are not reused
constexpr size_t kCopyChunk = 64 * 1024;

inline void ScrambleHeader(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] ^= uint8_t(kPackKey[i % 24]);
}

template <class T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Debugger output of the pack layer: to stderr when VARN_DEBUG_OUTPUT is set.
void DebugOut(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Positioned I/O on a stdio stream; false on a seek, short read or write.
bool ReadAt(std::FILE* f, uint64_t offset, void* buf, size_t len);
bool WriteAt(std::FILE* f, uint64_t offset, const void* buf, size_t len);
// Calls the test write hook, if any.
void BeforeWrite(std::FILE* f, uint64_t offset, const void* data, size_t len);
// Records why Open refuses a pack (CPackFile::LastRefusal) and the error;
// returns false.
bool Refuse(uint32_t error, const char* why);

// "/" <-> "\" forms of a path.
std::string ToLocal(const char* path);
std::string ToStored(const char* path);

}  // namespace packfmt

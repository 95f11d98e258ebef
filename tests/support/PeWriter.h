// Writes small Windows image files (PE32 or PE32+) for tests: the headers,
// one ".rsrc" section and a resource directory holding RT_VERSION -> id 1 ->
// language 0x409 -> a VS_VERSIONINFO with a VS_FIXEDFILEINFO, with an icon
// type before it whose entry is data, not a directory (a reader that takes
// the first type goes wrong). The offsets of the fields tests damage are
// given with the bytes. Independent of the reader, so tests do not share
// its mistakes.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace varntest {

struct PeLayout {
    bool is64 = false;
    bool wineBuiltin = false;  // "Wine builtin DLL" after the DOS header
    // The fixed record's file version (a<<48|b<<32|c<<16|d); none: the
    // image has no resource directory at all.
    std::optional<uint64_t> version;
};

struct PeFile {
    std::string bytes;
    // File offsets of fields (little-endian) a test may overwrite.
    uint32_t peOffsetField = 0x3C;  // e_lfanew
    uint32_t sectionCount = 0;      // u16
    uint32_t optionalSize = 0;      // u16
    uint32_t dirCount = 0;          // u32 NumberOfRvaAndSizes
    uint32_t resourceRva = 0;       // u32 data directory 2
    uint32_t sectionRawSize = 0;    // u32 SizeOfRawData
    uint32_t sectionRawOffset = 0;  // u32 PointerToRawData
    uint32_t typeDir = 0;           // resource directories (16-byte headers)
    uint32_t versionTypeEntry = 0;  // the RT_VERSION entry of typeDir
    uint32_t nameDir = 0;
    uint32_t langDir = 0;
    uint32_t langEntry = 0;
    uint32_t dataEntry = 0;    // RVA u32, size u32
    uint32_t versionInfo = 0;  // VS_VERSIONINFO
    uint32_t fixedInfo = 0;    // VS_FIXEDFILEINFO

    void Put16(uint32_t at, uint32_t v) { Put(at, v, 2); }
    void Put32(uint32_t at, uint32_t v) { Put(at, v, 4); }
    void Put(uint32_t at, uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
    }
};

constexpr uint64_t FileVersion(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    return a << 48 | b << 32 | c << 16 | d;
}

inline PeFile MakePe(const PeLayout& layout) {
    constexpr uint32_t kPe = 0x80, kRawOffset = 0x200, kRva = 0x1000;
    PeFile f;
    const uint32_t optionalSize = layout.is64 ? 240 : 224;
    const uint32_t optional = kPe + 24;
    const uint32_t table = optional + optionalSize;
    f.bytes.assign(kRawOffset, '\0');
    f.bytes[0] = 'M';
    f.bytes[1] = 'Z';
    f.Put32(f.peOffsetField, kPe);
    if (layout.wineBuiltin)
        std::memcpy(&f.bytes[0x40], "Wine builtin DLL", 17);
    std::memcpy(&f.bytes[kPe], "PE\0\0", 4);
    f.Put16(kPe + 4, layout.is64 ? 0x8664 : 0x14C);
    f.sectionCount = kPe + 6;
    f.Put16(f.sectionCount, 1);
    f.optionalSize = kPe + 20;
    f.Put16(f.optionalSize, optionalSize);
    f.Put16(kPe + 22, 0x2102);  // executable, 32-bit words, DLL
    f.Put16(optional, layout.is64 ? 0x20B : 0x10B);
    f.Put32(optional + 32, 0x1000);  // section alignment
    f.Put32(optional + 36, 0x200);   // file alignment
    f.Put32(optional + 56, 0x2000);  // size of image
    f.Put32(optional + 60, kRawOffset);
    const uint32_t dirs = optional + (layout.is64 ? 112 : 96);
    f.dirCount = dirs - 4;
    f.Put32(f.dirCount, 16);
    f.resourceRva = dirs + 2 * 8;
    std::memcpy(&f.bytes[table], ".rsrc", 5);
    f.sectionRawSize = table + 16;
    f.sectionRawOffset = table + 20;
    f.Put32(table + 12, kRva);
    f.Put32(f.sectionRawOffset, kRawOffset);
    f.Put32(table + 36, 0x40000040);  // initialised data, readable
    if (!layout.version) {
        f.Put16(f.sectionCount, 0);
        return f;
    }

    // Section contents, offsets relative to the resource root.
    constexpr uint32_t kType = 0, kName = 32, kLang = 56, kIconData = 80, kData = 96, kInfo = 112;
    constexpr uint32_t kInfoSize = 92;
    constexpr uint32_t kSize = kInfo + kInfoSize + 4;  // a little slack, as linkers leave
    std::string s(kSize, '\0');
    auto put = [&s](uint32_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            s[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
    };
    put(kType + 14, 2, 2);  // two id entries: RT_ICON, then RT_VERSION
    put(kType + 16, 3, 4);
    put(kType + 20, kIconData, 4);
    put(kType + 24, 16, 4);
    put(kType + 28, 0x80000000u | kName, 4);
    put(kName + 14, 1, 2);
    put(kName + 16, 1, 4);
    put(kName + 20, 0x80000000u | kLang, 4);
    put(kLang + 14, 1, 2);
    put(kLang + 16, 0x409, 4);
    put(kLang + 20, kData, 4);
    put(kData, kRva + kInfo, 4);
    put(kData + 4, kInfoSize, 4);
    put(kInfo, kInfoSize, 2);
    put(kInfo + 2, 52, 2);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof(key); ++i)
        put(kInfo + 6 + 2 * static_cast<uint32_t>(i), static_cast<uint8_t>(key[i]), 2);
    put(kInfo + 40, 0xFEEF04BDu, 4);
    put(kInfo + 44, 0x00010000, 4);
    put(kInfo + 48, static_cast<uint32_t>(*layout.version >> 32), 4);
    put(kInfo + 52, static_cast<uint32_t>(*layout.version), 4);
    put(kInfo + 56, static_cast<uint32_t>(*layout.version >> 32), 4);  // product version
    put(kInfo + 60, static_cast<uint32_t>(*layout.version), 4);

    f.bytes += s;
    f.Put32(table + 8, kSize);  // virtual size
    f.Put32(f.sectionRawSize, kSize);
    f.Put32(f.resourceRva, kRva);
    f.Put32(f.resourceRva + 4, kSize);
    f.typeDir = kRawOffset + kType;
    f.versionTypeEntry = kRawOffset + kType + 24;
    f.nameDir = kRawOffset + kName;
    f.langDir = kRawOffset + kLang;
    f.langEntry = kRawOffset + kLang + 16;
    f.dataEntry = kRawOffset + kData;
    f.versionInfo = kRawOffset + kInfo;
    f.fixedInfo = kRawOffset + kInfo + 40;
    return f;
}

}  // namespace varntest

// CPeImage: what the launcher reads from a Windows program or library file
// (PE32 or PE32+): whether it is a 64-bit image, whether it is one of
// Wine's own libraries, and the file version of its fixed version record
// (the VS_FIXEDFILEINFO of the RT_VERSION resource).
//
// The files come from the player's disk and may be damaged or hostile:
// every offset and size read from them is checked against the file before
// it is used, the resource directory is walked a fixed three levels deep
// (so a directory that points at itself ends the walk), and nothing is
// buffered beyond a few hundred bytes at a time. A file that does not hold
// what is asked for gives "no", never a crash.
//
// Threads: an object is used by one thread at a time; the source must stay
// valid while the object reads it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Random access to the bytes of one file.
class CPeSource {
public:
    virtual ~CPeSource() = default;
    // Total length in bytes.
    virtual uint64_t Size() const = 0;
    // Fills exactly size bytes from offset; false when they are not all
    // there (or cannot be read).
    virtual bool Read(uint64_t offset, void* out, size_t size) const = 0;
};

// The bytes of a file held in memory (tests, the fuzz target). Borrows the
// buffer: it must outlive the source.
class CPeMemorySource : public CPeSource {
public:
    CPeMemorySource(const void* data, size_t size)
        : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool Read(uint64_t offset, void* out, size_t size) const override;

private:
    const uint8_t* m_data;
    size_t m_size;
};

class CPeImage {
public:
    // Reads the headers and the section table. False when the source is not
    // a PE image whose headers lie within the file; the other members then
    // answer "no".
    bool Open(const CPeSource& source);

    // PE32+ (a 64-bit program).
    bool Is64() const { return m_is64; }
    // Wine marks the libraries it builds (and the placeholders it puts into
    // a prefix for them) with a signature right after the DOS header; its
    // own loader tells them apart by it.
    bool IsWineBuiltin() const { return m_wineBuiltin; }
    // The file version of the fixed version record: the record's two 32-bit
    // words, most significant first (a.b.c.d as a<<48 | b<<32 | c<<16 | d).
    // False when the image has no readable, well-formed record.
    bool FixedFileVersion(uint64_t& version) const;

    // The signatures Wine writes at offset 64, with their terminating zero.
    static constexpr char kWineBuiltinSignature[] = "Wine builtin DLL";
    static constexpr char kWinePlaceholderSignature[] = "Wine placeholder DLL";

private:
    struct Section {
        uint32_t virtualAddress;
        uint32_t rawSize;
        uint32_t rawOffset;
    };
    // File offset of size bytes at rva, when they all lie in the raw data of
    // one section.
    bool RvaToOffset(uint32_t rva, uint32_t size, uint64_t& offset) const;
    bool ReadRva(uint32_t rva, void* out, uint32_t size) const;
    // The entry of the resource directory at dirOffset (relative to the
    // resource root) with the given id, or its first entry when id is 0.
    // Gives the entry's target (an offset relative to the root) and whether
    // it is a directory.
    bool FindResourceEntry(uint32_t dirOffset, uint16_t id, uint32_t& target,
                           bool& isDirectory) const;
    bool CheckWineSignature(uint32_t peOffset);

    const CPeSource* m_source = nullptr;
    bool m_is64 = false;
    bool m_wineBuiltin = false;
    uint32_t m_resourceRva = 0;
    uint32_t m_resourceSize = 0;
    std::vector<Section> m_sections;
};

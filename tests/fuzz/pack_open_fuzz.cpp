// Opens arbitrary bytes as a pack and reads every file it lists, so that a
// length, offset or count that does not fit the file shows up as a read out
// of bounds, a hang or a crash. The first input byte picks the form:
//   even: the rest is the file as it stands;
//   odd:  the rest is a plain 34-byte header followed by what goes at the
//         tree area (tree header and node stream). The header is scrambled
//         with the pack key and the file is extended past the start of the
//         data region, so the fuzzer can reach the tree parser and content
//         reads without having to discover the key.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pack/PackFile.h"

namespace {

constexpr size_t kHeader = 34;
constexpr size_t kTreeOffset = 80034;
constexpr size_t kExtendTo = kTreeOffset + 0x100000 + 4096;

std::string TempFile() {
    static std::string path;
    if (path.empty()) {
        char dir[] = "/tmp/varn-fuzz-pack-XXXXXX";
        if (mkdtemp(dir))
            path = std::string(dir) + "/p.lpk";
    }
    return path;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    if (size > 0 && (data[0] & 1) && size > 1 + kHeader) {
        std::vector<uint8_t> head(data + 1, data + 1 + kHeader);
        for (size_t i = 0; i < kHeader; ++i)
            head[i] ^= uint8_t(kPackKey[i % 24]);
        fwrite(head.data(), 1, kHeader, f);
        std::vector<uint8_t> tables(kTreeOffset - kHeader, 0);
        fwrite(tables.data(), 1, tables.size(), f);
        fwrite(data + 1 + kHeader, 1, size - 1 - kHeader, f);
        if (fseeko(f, kExtendTo - 1, SEEK_SET) == 0)
            fputc(0, f);
    } else if (size > 1) {
        fwrite(data + 1, 1, size - 1, f);
    }
    fclose(f);
    return true;
}

void ReadEverything(CPackFile& pack) {
    std::vector<char> buf;
    pack.ForEachFile([&](const std::string& path, uint64_t size) {
        PackSubFile* f = pack.OpenFile(path.c_str(), PACK_MODE_READ);
        if (!f)
            return;
        if (size <= (1u << 20)) {
            buf.resize(size + 1);
            pack.ReadFile(f, buf.data(), uint32_t(size));
            pack.ReadFile(f, buf.data(), 1);  // past the end: must fail cleanly
        }
        pack.CloseFile(f);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = TempFile();
    if (path.empty() || !WriteInput(path, data, size))
        return 0;
    CPackFile pack;
    if (pack.Open(path.c_str(), nullptr, PACK_MODE_READ)) {
        ReadEverything(pack);
        pack.Exists("a\\b");
        pack.Close();
    }
    return 0;
}

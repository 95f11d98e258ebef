// Opens arbitrary bytes as a pack and reads every file it lists. An odd first
// byte: the rest is a plain header (scrambled here) and the tree area, padded
// past the data start so the fuzzer reaches the tree parser without the key.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/PackFile.h"

constexpr size_t kHeader = 34;
constexpr size_t kTreeOffset = 80034;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty()) {
        char dir[] = "/tmp/varn-fuzz-pack-XXXXXX";
        if (!mkdtemp(dir))
            return 0;
        path = std::string(dir) + "/p.lpk";
    }
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool shaped = size > 1 + kHeader && (data[0] & 1);
    bytes.erase(0, 1);
    for (size_t i = 0; shaped && i < kHeader; ++i)
        bytes[i] = char(bytes[i] ^ kPackKey[i % 24]);
    if (shaped)
        bytes.insert(kHeader, kTreeOffset - kHeader, '\0');
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    std::error_code ec;
    if (shaped && bytes.size() < kTreeOffset + 0x100000 + 4096)  // past the data start, sparse
        std::filesystem::resize_file(path, kTreeOffset + 0x100000 + 4096, ec);
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, PACK_MODE_READ))
        return 0;
    std::vector<char> buf;
    pack.ForEachFile([&](const std::string& name, uint64_t fileSize) {
        PackSubFile* f = pack.OpenFile(name.c_str(), PACK_MODE_READ);
        if (!f)
            return;
        if (fileSize <= (1u << 20)) {
            buf.resize(fileSize + 1);
            pack.ReadFile(f, buf.data(), uint32_t(fileSize));
            pack.ReadFile(f, buf.data(), 1);  // past the end: must fail cleanly
        }
        pack.CloseFile(f);
    });
    pack.Exists("a\\b");
    pack.Close();
    return 0;
}

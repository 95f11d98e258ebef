// Opens arbitrary bytes as a pack and reads every file it lists. An odd first
// byte: the rest is a plain header (scrambled here) and the tree area, padded
// past the data start so the fuzzer reaches the tree parser without the key.
// Bit 1 of the first byte: the input from its last "VPJ1" on is the journal
// of an interrupted close, left beside the pack; its length and checksum are
// made right (and its metadata shaped like the pack) so the fuzzer reaches
// the replay.
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/PackFile.h"

constexpr size_t kHeader = 34;
constexpr size_t kTreeOffset = 80034;
constexpr size_t kJournalHeader = 56;

// Journal checksum: FNV-1a of its first 40 bytes, the mark (bytes 4 to 7)
// taken as 0, and the metadata behind the header.
void FixJournal(std::string& j, bool shaped) {
    if (j.size() < kJournalHeader)
        return;
    if (shaped && j.size() > kJournalHeader + kHeader) {
        for (size_t i = 0; i < kHeader; ++i)
            j[kJournalHeader + i] = char(j[kJournalHeader + i] ^ kPackKey[i % 24]);
        j.insert(kJournalHeader + kHeader, kTreeOffset - kHeader, '\0');
    }
    uint64_t length = j.size() - kJournalHeader, sum = 0xcbf29ce484222325ull;
    std::memcpy(&j[32], &length, 8);
    for (size_t i = 0; i < j.size(); ++i) {
        if (i == 40)
            i = kJournalHeader;
        sum = (sum ^ uint8_t(i >= 4 && i < 8 ? 0 : j[i])) * 0x100000001b3ull;
    }
    std::memcpy(&j[40], &sum, 8);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty()) {
        char dir[] = "/tmp/varn-fuzz-pack-XXXXXX";
        if (!mkdtemp(dir))
            return 0;
        path = std::string(dir) + "/p.lpk";
    }
    std::string bytes(reinterpret_cast<const char*>(data), size), journal;
    const size_t cut = size && (data[0] & 2) ? bytes.rfind("VPJ1") : std::string::npos;
    if (cut != std::string::npos && cut > 0) {
        journal = bytes.substr(cut);
        bytes.erase(cut);
    }
    const bool shaped = bytes.size() > 1 + kHeader && (data[0] & 1);
    FixJournal(journal, shaped);
    bytes.erase(0, 1);
    for (size_t i = 0; shaped && i < kHeader; ++i)
        bytes[i] = char(bytes[i] ^ kPackKey[i % 24]);
    if (shaped)
        bytes.insert(kHeader, kTreeOffset - kHeader, '\0');
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    std::filesystem::remove(path + ".jnl");
    if (!journal.empty())
        std::ofstream(path + ".jnl", std::ios::binary).write(journal.data(), journal.size());
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

// Applies an arbitrary file list (names and update types from the input) to a
// sandboxed game directory and aborts when anything was written outside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../support/TempDir.h"
#include "engine/FileUpdater.h"
#include "engine/VersionFileLayout.h"
#include "updatemodule/UpdaterBase.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBase = "step";

class FuzzEngine : public CFileUpdater {
public:
    void SetBaseName() { CopyText(m_szUpdateFileName, sizeof(m_szUpdateFileName), kBase); }
};

// Each 48-byte piece of the input is one entry: the type from its first
// byte, the name from the rest (cut at the first zero).
std::string FileList(const uint8_t* data, size_t size) {
    const size_t count = size / 48;
    std::string plain(uvf::kHeaderSize + count * uvf::kEntrySize + uvf::kTrailerSize, '\0');
    std::memcpy(&plain[uvf::kUpdateVersionOffset], "1.0.0.2", 7);
    const uint32_t count32 = static_cast<uint32_t>(count);
    std::memcpy(&plain[uvf::kFileCountOffset], &count32, sizeof(count32));
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* piece = data + i * 48;
        char* entry = &plain[uvf::kHeaderSize + i * uvf::kEntrySize];
        std::memcpy(entry + uvf::kEntryNameOffset, piece + 1, 47);
        entry[uvf::kEntryTypeOffset] = static_cast<char>(piece[0] % 5);
        entry[uvf::kEntryFileSizeOffset] = 1;
    }
    ScrambleBuffer(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 48 * 64)
        return 0;
    const varntest::TempDir dir({.enter = true, .prefix = "varn-listfuzz"});
    const fs::path root = dir.path();
    const fs::path unpack = root / "game" / "Update" / kBase;
    for (const char* name : {"a", "Data/b"})
        varntest::TempDir::WriteFile(unpack / name, "x");
    varntest::TempDir::WriteFile(unpack / "filelist.uvf", FileList(data, size));
    {
        FuzzEngine engine;
        engine.SetUpdatePath((root / "game").c_str());
        fs::current_path(root / "game");
        engine.SetBaseName();
        engine.UpdateVersionFile();
    }
    for (const auto& e : fs::directory_iterator(root))
        if (e.path().filename() != "game")
            std::abort();  // written beside the game directory
    for (const auto& e : fs::recursive_directory_iterator(root / "game"))
        if (e.is_symlink())
            std::abort();
    return 0;
}

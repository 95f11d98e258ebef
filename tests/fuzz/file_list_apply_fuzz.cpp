// Applies an arbitrary file list (names and update types from the input) to a
// sandboxed game directory and aborts when anything was written outside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../support/TempDir.h"
#include "../support/VersionFileWriter.h"
#include "base/UpdaterBase.h"
#include "engine/FileUpdater.h"

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
    varntest::CVersionFileWriter list;
    list.updateVersion = "1.0.0.2";
    for (size_t i = 0; i + 48 <= size; i += 48) {
        const char* name = reinterpret_cast<const char*>(data + i + 1);
        list.entries.push_back({"", std::string(name, strnlen(name, 47)), uint8_t(data[i] % 5), 1});
    }
    return list.Scramble(list.Plain());
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

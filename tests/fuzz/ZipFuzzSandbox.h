// Shared by the zip fuzz targets: a private directory holding the archive
// and the output directory, and the check that extraction wrote nothing
// beside the output directory.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../support/TempDir.h"
#include "archive/ExtractHost.h"
#include "archive/ZipExtractor.h"

namespace zipfuzz {

namespace fs = std::filesystem;

struct Sandbox {
    varntest::TempDir dir{{.prefix = "varn-zipfuzz"}};
    std::string archive = dir / "in.zip", out = dir / "out";

    // Aborts when anything other than the archive and the output directory
    // appeared in the sandbox, or a link appeared below the output.
    void CheckAndClean() const {
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path() != archive && e.path() != out)
                std::abort();
        if (fs::exists(out)) {
            for (const auto& e : fs::recursive_directory_iterator(out))
                if (e.is_symlink())
                    std::abort();
            fs::remove_all(out);
        }
    }
};

// Extracts box.archive into box.out, counting entries from the archive.
inline int Extract(const Sandbox& box) {
    struct NeverStop : CExtractHost {
        plat::EventHandle GetStopEvent() override { return event; }
        plat::EventHandle event = plat::CreateEvent(true, false);
    };
    static CUpdaterBase owner;
    static NeverStop host;
    CZipExtractor extractor(owner, host);
    return extractor.ExtractFile(box.archive.c_str(), box.out.c_str(), 0, 0, 1);
}

}  // namespace zipfuzz

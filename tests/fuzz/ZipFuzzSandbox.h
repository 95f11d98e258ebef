// Shared by the zip fuzz targets: a private directory holding the archive
// and the output directory, and the check that extraction wrote nothing
// beside the output directory.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/ExtractHost.h"
#include "archive/ZipExtractor.h"

namespace zipfuzz {

namespace fs = std::filesystem;

class NeverStop : public CExtractHost {
public:
    plat::EventHandle GetStopEvent() override { return m_event; }

private:
    plat::EventHandle m_event = plat::CreateEvent(true, false);
};

struct Sandbox {
    Sandbox() {
        std::string tmpl = (fs::temp_directory_path() / "varn-zipfuzz-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr)
            std::abort();
        root = tmpl;
        archive = root + "/in.zip";
        out = root + "/out";
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // Aborts when anything other than the archive and the output directory
    // appeared in the sandbox, or a link appeared below the output.
    void CheckAndClean() const {
        for (const auto& e : fs::directory_iterator(root)) {
            const std::string name = e.path().filename().string();
            if (name != "in.zip" && name != "out")
                std::abort();
        }
        if (fs::exists(out)) {
            for (const auto& e : fs::recursive_directory_iterator(out))
                if (e.is_symlink())
                    std::abort();
            fs::remove_all(out);
        }
    }
    std::string root, archive, out;
};

inline int Extract(const Sandbox& box) {
    static CUpdaterBase owner;
    static NeverStop host;
    CZipExtractor extractor(owner, host);
    return extractor.ExtractFile(box.archive.c_str(), box.out.c_str(), 0, 0, 1);
}

}  // namespace zipfuzz

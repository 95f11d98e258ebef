// skinart: draws the launcher's skin as PNG files.
//   skinart OUTDIR [--preview FILE]
// writes OUTDIR/<name>.png for every bitmap and, with --preview, a picture
// of the windows as a player sees them (for looking at the art, not
// shipped).
#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "SkinArt.h"

int main(int argc, char** argv) {
    std::string outDir;
    std::string preview;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--preview" && i + 1 < argc) {
            preview = argv[++i];
        } else if (outDir.empty() && arg.rfind("--", 0) != 0) {
            outDir = arg;
        } else {
            outDir.clear();
            break;
        }
    }
    if (outDir.empty()) {
        std::fprintf(stderr, "usage: skinart OUTDIR [--preview FILE]\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    const std::vector<skinart::Bitmap> skin = skinart::DrawSkin();
    for (const skinart::Bitmap& b : skin) {
        const std::string path = outDir + "/" + b.name + ".png";
        if (!skinart::WritePng(b.image, path)) {
            std::fprintf(stderr, "skinart: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    if (!preview.empty() && !skinart::WritePng(skinart::ComposePreview(skin), preview)) {
        std::fprintf(stderr, "skinart: cannot write %s\n", preview.c_str());
        return 1;
    }
    // Leaves nothing for a leak checker to report.
    cairo_debug_reset_static_data();
    return 0;
}

// Patches files inside a large pack through PackFileUpdate and compares the
// time with copying the same bytes once with `cp`; prints both times, their
// ratio and the peak resident memory of this process.
//
//   bench_pack [--pack-mb N] [--update-mb N] [--files N] [--workdir DIR]
//
// The installed pack holds `files` files totalling pack-mb MiB (default
// 2048 MiB in 10 000 files); the patch replaces every one of them with new
// content totalling update-mb MiB (default 500). The work directory
// (default: a fresh one under the temp directory) is removed afterwards.
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/FileHash.h"
#include "engine/FileUpdater.h"
#include "pack/PackFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBase = "bench_patch";
constexpr const char* kPack = "Data\\Bench.lpk";

struct Options {
    uint64_t packMb = 2048;
    uint64_t updateMb = 500;
    int files = 10000;
    std::string workdir;
};

class BenchEngine : public CFileUpdater {
public:
    void SetBaseName(const char* name) {
        std::snprintf(m_szUpdateFileName, sizeof m_szUpdateFileName, "%s", name);
    }
};

long PeakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Rewrites the source file in place (same size, no truncation) with
// content that depends on seed.
bool FillSource(const std::string& path, uint64_t size, uint32_t seed) {
    FILE* f = std::fopen(path.c_str(), fs::exists(path) ? "r+b" : "wb");
    if (!f)
        return false;
    std::vector<uint32_t> buf(16384);
    uint64_t left = size;
    while (left > 0) {
        for (uint32_t& w : buf) {
            seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
            w = seed;
        }
        size_t n = size_t(std::min<uint64_t>(left, buf.size() * 4));
        std::fwrite(buf.data(), 1, n, f);
        left -= n;
    }
    std::fclose(f);
    return true;
}

std::string Inner(int i) {
    return "dir" + std::to_string(i % 16) + "\\file" + std::to_string(i) + ".bin";
}

// A pack of `files` files of perFile bytes each; records the fingerprints
// when hashes is given.
bool WritePack(const std::string& path, const std::string& source, int files, uint64_t perFile,
               uint32_t salt, std::vector<std::string>* hashes) {
    fs::create_directories(fs::path(path).parent_path());
    CPackFile pack;
    if (!pack.Open(path.c_str(), nullptr, 0xC))
        return false;
    fs::remove(source);
    for (int i = 0; i < files; ++i) {
        if (!FillSource(source, perFile, salt + uint32_t(i) * 2654435761u + 1))
            return false;
        if (hashes) {
            CFileHash hash;
            hash.HashFile(source.c_str());
            hash.Final();
            char text[48] = {};
            hash.ReportHash(text, REPORT_HEX);
            hashes->push_back(text);
        }
        if (!pack.AddFile(source.c_str(), Inner(i).c_str()))
            return false;
    }
    return pack.Close() != 0;
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i];
        if (k == "--pack-mb") {
            o.packMb = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (k == "--update-mb") {
            o.updateMb = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (k == "--files") {
            o.files = std::atoi(argv[i + 1]);
        } else if (k == "--workdir") {
            o.workdir = argv[i + 1];
        } else {
            return false;
        }
    }
    return o.files > 0 && (argc % 2) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_pack [--pack-mb N] [--update-mb N] [--files N] [--workdir D]\n");
        return 2;
    }
    bool ownDir = o.workdir.empty();
    if (ownDir) {
        std::string tmpl = (fs::temp_directory_path() / "varn-bench-pack-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            return 1;
        o.workdir = tmpl;
    }
    const std::string game = fs::absolute(o.workdir).string() + "/game";
    const std::string installed = game + "/Data/Bench.lpk";
    const std::string patch = game + "/Update/" + kBase + "/Data/Bench.lpk";
    const uint64_t perOld = o.packMb * 1024 * 1024 / uint64_t(o.files);
    const uint64_t perNew = o.updateMb * 1024 * 1024 / uint64_t(o.files);

    std::printf("preparing: %d files, pack %llu MiB, update %llu MiB\n", o.files,
                (unsigned long long)o.packMb, (unsigned long long)o.updateMb);
    std::vector<std::string> hashes;
    if (!WritePack(installed, o.workdir + "/source", o.files, perOld, 0x1234, nullptr) ||
        !WritePack(patch, o.workdir + "/source", o.files, perNew, 0x9876, &hashes)) {
        std::fprintf(stderr, "preparing the packs failed\n");
        return 1;
    }
    const long rssBefore = PeakKb();

    BenchEngine engine;
    engine.SetUpdatePath(game.c_str());
    engine.SetBaseName(kBase);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < o.files; ++i) {
        UpdateFileEntry e{};
        std::snprintf(e.szHash, sizeof e.szHash, "%s", hashes[size_t(i)].c_str());
        std::snprintf(e.szFileName, sizeof e.szFileName, "%s\\%s", kPack, Inner(i).c_str());
        e.byUpdateType = uvf::UPDATE_TYPE_PACK;
        e.nFileSize = uint32_t(perNew);
        if (!engine.PackFileUpdate(&e)) {
            std::fprintf(stderr, "PackFileUpdate failed at %d: %s\n", i,
                         CUpdaterBase::GetLastErrorMessage());
            return 1;
        }
    }
    const double beforeClose = Seconds(start);
    if (!engine.ClosePackFiles()) {
        std::fprintf(stderr, "closing the pack failed\n");
        return 1;
    }
    const double ours = Seconds(start);
    const long rssAfter = PeakKb();

    const std::string copy = o.workdir + "/copy.bin";
    start = std::chrono::steady_clock::now();
    const int rc = std::system(("cp '" + patch + "' '" + copy + "'").c_str());
    const double theirs = Seconds(start);

    std::printf("PackFileUpdate: %8.2f s  (%d files, %llu MiB), peak RSS %ld KiB (%ld before)\n",
                ours, o.files, (unsigned long long)(perNew * uint64_t(o.files) >> 20), rssAfter,
                rssBefore);
    std::printf("  of which closing (commit, flush to disk): %.2f s\n", ours - beforeClose);
    std::printf("cp            : %8.2f s  (the patch pack once, exit status %d)\n", theirs, rc);
    std::printf("ratio         : %8.2f (PackFileUpdate / cp)\n", theirs > 0 ? ours / theirs : 0.0);
    if (ownDir) {
        std::error_code ec;
        fs::remove_all(o.workdir, ec);
    }
    return 0;
}

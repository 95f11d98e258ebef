// Patches files inside a large pack through PackFileUpdate and compares the
// time with copying the same bytes with `cp` followed by `sync` of the copy,
// side by side: several rounds, the order of the two alternating, medians
// reported. Prints every round, the medians, their ratio and the peak
// resident memory of this process.
//
//   bench_pack [--pack-mb N] [--update-mb N] [--files N] [--rounds N] [--workdir DIR]
//
// The installed pack holds `files` files totalling pack-mb MiB (default
// 1024 MiB in 5 000 files); each round's patch replaces every one of them
// with new content totalling update-mb MiB (default 255); two patches take
// turns, so every round really changes every file. The work directory
// (default: a fresh one under the temp directory) is removed afterwards.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
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
    uint64_t packMb = 1024;
    uint64_t updateMb = 255;
    int files = 5000;
    int rounds = 5;
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
        } else if (k == "--rounds") {
            o.rounds = std::atoi(argv[i + 1]);
        } else if (k == "--workdir") {
            o.workdir = argv[i + 1];
        } else {
            return false;
        }
    }
    return o.files > 0 && o.rounds > 0 && (argc % 2) == 1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One patch of every file, committed; seconds, or < 0 on failure.
double RunUpdate(const std::string& game, const std::string& base, int files, uint64_t perNew,
                 const std::vector<std::string>& hashes) {
    BenchEngine engine;
    engine.SetUpdatePath(game.c_str());
    engine.SetBaseName(base.c_str());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
        UpdateFileEntry e{};
        std::snprintf(e.szHash, sizeof e.szHash, "%s", hashes[size_t(i)].c_str());
        std::snprintf(e.szFileName, sizeof e.szFileName, "%s\\%s", kPack, Inner(i).c_str());
        e.byUpdateType = uvf::UPDATE_TYPE_PACK;
        e.nFileSize = uint32_t(perNew);
        if (!engine.PackFileUpdate(&e)) {
            std::fprintf(stderr, "PackFileUpdate failed at %d: %s\n", i,
                         CUpdaterBase::GetLastErrorMessage());
            return -1;
        }
    }
    if (!engine.ClosePackFiles()) {
        std::fprintf(stderr, "closing the pack failed\n");
        return -1;
    }
    return Seconds(start);
}

// The peer: the same bytes copied and flushed to disk.
double RunCopy(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::remove(to, ec);
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(("cp '" + from + "' '" + to + "' && sync '" + to + "'").c_str());
    return rc == 0 ? Seconds(start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_pack [--pack-mb N] [--update-mb N] [--files N] [--rounds N] "
                     "[--workdir D]\n");
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
    const std::string bases[2] = {std::string(kBase) + "_a", std::string(kBase) + "_b"};
    const uint64_t perOld = o.packMb * 1024 * 1024 / uint64_t(o.files);
    const uint64_t perNew = o.updateMb * 1024 * 1024 / uint64_t(o.files);

    std::printf("preparing: %d files, pack %llu MiB, update %llu MiB, %d rounds\n", o.files,
                (unsigned long long)o.packMb, (unsigned long long)o.updateMb, o.rounds);
    std::vector<std::string> hashes[2];
    bool ok = WritePack(installed, o.workdir + "/source", o.files, perOld, 0x1234, nullptr);
    for (int p = 0; ok && p < 2; ++p)
        ok = WritePack(game + "/Update/" + bases[p] + "/Data/Bench.lpk", o.workdir + "/source",
                       o.files, perNew, 0x9876 + uint32_t(p) * 7919, &hashes[p]);
    if (!ok) {
        std::fprintf(stderr, "preparing the packs failed\n");
        return 1;
    }
    const long rssBefore = PeakKb();
    std::vector<double> ours, theirs, ratios;
    for (int r = 0; r < o.rounds; ++r) {
        const int p = r % 2;
        const std::string patch = game + "/Update/" + bases[p] + "/Data/Bench.lpk";
        double update = 0, copy = 0;
        // Alternating which goes first: neither always meets a page cache
        // the other one warmed (or filled with dirty pages).
        for (int step = 0; step < 2; ++step) {
            if ((step == 0) == (r % 2 == 0))
                update = RunUpdate(game, bases[p], o.files, perNew, hashes[p]);
            else
                copy = RunCopy(patch, o.workdir + "/copy.bin");
        }
        if (update < 0 || copy < 0)
            return 1;
        ours.push_back(update);
        theirs.push_back(copy);
        ratios.push_back(update / copy);
        std::printf("round %d (%s first): PackFileUpdate %6.2f s, cp+sync %6.2f s, ratio %5.2f\n",
                    r + 1, r % 2 == 0 ? "update" : "cp", update, copy, update / copy);
    }
    const long rssAfter = PeakKb();
    std::printf(
        "PackFileUpdate: %8.2f s median  (%d files, %llu MiB), peak RSS %ld KiB (%ld before)\n",
        Median(ours), o.files, (unsigned long long)(perNew * uint64_t(o.files) >> 20), rssAfter,
        rssBefore);
    std::printf("cp + sync     : %8.2f s median  (the patch pack once)\n", Median(theirs));
    std::printf("ratio         : %8.2f median of the rounds' ratios (min %.2f, max %.2f)\n",
                Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    if (ownDir) {
        std::error_code ec;
        fs::remove_all(o.workdir, ec);
    }
    return 0;
}

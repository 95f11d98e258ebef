// Unpacks one archive with CZipExtractor and with `unzip -o` over several
// rounds whose order alternates, checks that both produced the same tree
// (unzip turns the backslash separators of patch archives into directories
// too, and only warns about them: exit status 1), and prints the median
// times, their ratio and the peak resident memory of each.
//
//   bench_extract [--size-mb N] [--files N] [--archive PATH] [--workdir DIR]
//                 [--rounds N]
//
// Without --archive a deflated archive of N files totalling size-mb MiB is
// written first (default 1024 MiB in 2000 files) into the work directory.
#include <minizip/zip.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/ZipExtractor.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    uint64_t sizeMb = 1024;
    int files = 2000;
    std::string archive;
    std::string workdir;
    int rounds = 3;
};

class BenchHost : public CExtractHost {
public:
    plat::EventHandle GetStopEvent() override { return m_event; }

private:
    plat::EventHandle m_event = plat::CreateEvent(true, false);
};

// Half noise, half repeated text: deflates to roughly 60 %.
void FillChunk(std::vector<char>& buf, uint32_t& seed) {
    for (size_t i = 0; i < buf.size(); ++i) {
        if ((i / 4096) % 2 == 0) {
            seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
            buf[i] = static_cast<char>(seed);
        } else {
            buf[i] = "varn patch data "[i % 16];
        }
    }
}

bool WriteArchive(const std::string& path, const Options& o) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zf == nullptr)
        return false;
    const uint64_t perFile = o.sizeMb * 1024 * 1024 / static_cast<uint64_t>(o.files);
    std::vector<char> chunk(64 * 1024);
    uint32_t seed = 2463534242u;
    bool ok = true;
    for (int i = 0; ok && i < o.files; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Data\\Dir%02d\\file%05d.bin", i % 50, i);
        zip_fileinfo zi{};
        ok = zipOpenNewFileInZip64(zf, name, &zi, nullptr, 0, nullptr, 0, nullptr, 8, 1,
                                   perFile >= 0xFFFFFFFFu) == ZIP_OK;
        for (uint64_t left = perFile; ok && left > 0;) {
            FillChunk(chunk, seed);
            const unsigned n = static_cast<unsigned>(left < chunk.size() ? left : chunk.size());
            ok = zipWriteInFileInZip(zf, chunk.data(), n) == ZIP_OK;
            left -= n;
        }
        ok = ok && zipCloseFileInZip(zf) == ZIP_OK;
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKb(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_maxrss;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--size-mb")
            o.sizeMb = std::strtoull(argv[i + 1], nullptr, 10);
        else if (key == "--files")
            o.files = std::atoi(argv[i + 1]);
        else if (key == "--archive")
            o.archive = argv[i + 1];
        else if (key == "--workdir")
            o.workdir = argv[i + 1];
        else if (key == "--rounds")
            o.rounds = std::atoi(argv[i + 1]);
        else
            return false;
    }
    return (argc % 2) == 1 && o.files > 0 && o.rounds > 0;
}

// Files and bytes of a tree: the work an unpacking did.
std::pair<uint64_t, uint64_t> Tree(const std::string& dir) {
    uint64_t files = 0, bytes = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.is_regular_file()) {
            ++files;
            bytes += e.file_size();
        }
    return {files, bytes};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--size-mb N] [--files N] [--archive PATH] [--workdir DIR]\n",
                     argv[0]);
        return 2;
    }
    if (o.workdir.empty())
        o.workdir = (fs::temp_directory_path() / "varn-bench-extract").string();
    fs::create_directories(o.workdir);
    if (o.archive.empty()) {
        o.archive = o.workdir + "/bench.zip";
        const auto t = std::chrono::steady_clock::now();
        if (!WriteArchive(o.archive, o)) {
            std::fprintf(stderr, "cannot write %s\n", o.archive.c_str());
            return 1;
        }
        std::printf("built %s (%llu MiB in %d files) in %.2f s\n", o.archive.c_str(),
                    static_cast<unsigned long long>(o.sizeMb), o.files, Seconds(t));
    }
    const long rssBefore = PeakKb(RUSAGE_SELF);

    CUpdaterBase owner;
    BenchHost host;
    const std::string ours = o.workdir + "/ours", theirs = o.workdir + "/unzip";
    // /usr/bin/time reports unzip's own peak; the rusage of our children
    // would also count the copy of this process that fork made.
    const bool haveTime = fs::exists("/usr/bin/time");
    const std::string rssFile = o.workdir + "/unzip.rss";
    const std::string unzip = "unzip -o -q '" + o.archive + "' -d '" + theirs + "'";
    const std::string cmd =
        (haveTime ? "/usr/bin/time -f %M -o '" + rssFile + "' " + unzip : unzip) +
        " >/dev/null 2>&1";
    std::vector<double> oursTimes, theirTimes;
    long oursRss = 0, theirRss = 0;
    int rc = 0;
    bool sameWork = true;
    auto runOurs = [&] {
        fs::remove_all(ours);
        CZipExtractor extractor(owner, host);
        const auto t = std::chrono::steady_clock::now();
        const int result = extractor.ExtractFile(o.archive.c_str(), ours.c_str(), 0, 0, 1);
        oursTimes.push_back(Seconds(t));
        oursRss = PeakKb(RUSAGE_SELF);
        return result != 0;
    };
    auto runTheirs = [&] {
        fs::remove_all(theirs);
        const auto t = std::chrono::steady_clock::now();
        rc = std::system(cmd.c_str());
        theirTimes.push_back(Seconds(t));
        theirRss = std::max(theirRss, PeakKb(RUSAGE_CHILDREN));
        if (haveTime) {
            // A nonzero exit adds a "Command exited..." line before the figure.
            if (std::FILE* f = std::fopen(rssFile.c_str(), "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, f) != nullptr)
                    if (line[0] >= '0' && line[0] <= '9')
                        theirRss = std::atol(line);
                std::fclose(f);
            }
            fs::remove(rssFile);
        }
    };
    for (int round = 0; round < o.rounds; ++round) {
        if (round % 2 == 1)
            runTheirs();
        if (!runOurs()) {
            std::fprintf(stderr, "ExtractFile failed: %s\n", CUpdaterBase::GetLastErrorMessage());
            return 1;
        }
        if (round % 2 == 0)
            runTheirs();
        sameWork = sameWork && Tree(ours) == Tree(theirs);
    }
    const double oursSec = Median(oursTimes), theirSec = Median(theirTimes);
    const auto [files, bytes] = Tree(ours);

    std::printf("rounds      : %d, order alternating; figures are medians\n", o.rounds);
    std::printf("ExtractFile : %8.2f s  peak RSS %ld KiB (before %ld KiB)\n", oursSec, oursRss,
                rssBefore);
    // unzip exits 1 (a warning) for the backslash separators of patch archives.
    std::printf("unzip -o    : %8.2f s  peak RSS %ld KiB%s (exit status %d)\n", theirSec, theirRss,
                haveTime ? "" : " (upper bound)", WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
    std::printf("same work   : %s (%llu files, %llu bytes)\n", sameWork ? "yes" : "NO",
                static_cast<unsigned long long>(files), static_cast<unsigned long long>(bytes));
    std::printf("ratio       : %8.2f (ExtractFile / unzip)\n",
                theirSec > 0 ? oursSec / theirSec : 0.0);
    fs::remove_all(ours);
    fs::remove_all(theirs);
    return sameWork ? 0 : 1;
}

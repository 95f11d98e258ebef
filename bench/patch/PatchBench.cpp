// bench_patch: brings a fresh version-1 install to the latest version over
// a 3-step incremental chain served by nginx on 127.0.0.1, once with the
// varn-patch host and once with the tightest peer pipeline a user could
// script (curl each archive to disk, sha1sum it, unzip -o straight into the
// game directory), alternating which goes first in each round. Each
// measured run is a child process under /usr/bin/time, which reports its
// wall, system and user time, peak resident memory and the bytes it wrote
// (the kernel's write accounting). Medians over the rounds are reported.
//
//   bench_patch [--size-mb N] [--files N] [--rounds N] [--bin DIR] [--library] [--keep]
//   (full size: bench_patch --size-mb 512 --files 2000)
// --bin takes varn-patch, its libraries and varn-publish from another build's
// bin directory (to compare builds). --library also runs the shipped library in-process, with and
// without a progress callback.
//
// Client modes (run by the bench itself):
//   bench_patch --client callback|silent GAMEDIR PORT
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/HttpServer.h"
#include "updatemodule/UpdateModule.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSteps = 3;  // versions 1.0.0.1 .. 1.0.0.4

std::string Version(int v) {
    return "1.0.0." + std::to_string(v);
}

std::atomic<uint64_t> g_notifications{0};

void CountingCallback(int32_t, UPDATE_CALLBACK_INFO*) {
    g_notifications.fetch_add(1);
}

// One patch run in this process; the exit code is 0 for RUN_OK.
int RunClient(bool withCallback, const std::string& game, int port) {
    CUpdateModule module;
    module.SetParentProgamName("Varngame.exe");
    module.SetUpdateProgram("Update Program");
    module.SetLauncherVersion("1.0.6.1");
    module.SetConnectInfo("127.0.0.1", port, "", "", "patch", "patch", 0, false, 0,
                          SERVICE_TYPE_DEFAULT);
    module.SetUpdatePath(game.c_str());
    fs::current_path(game);
    if (withCallback)
        module.SetCallBack(nullptr, &CountingCallback);
    module.SetFullVersionDownload(0);
    const int result = module.UpdateRun();
    std::fprintf(stderr, "client result %d, notifications %llu\n", result,
                 static_cast<unsigned long long>(g_notifications.load()));
    return result == RUN_OK ? 0 : 1;
}

// Deterministic bytes that do not compress (xorshift).
void WriteNoise(const std::string& path, uint64_t size, uint64_t seed) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> block(8192);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    while (size > 0) {
        for (uint64_t& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        const uint64_t n = std::min<uint64_t>(size, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        size -= n;
    }
}

// Step s (1..3) rewrites the quarter of the files with i % 4 == s; every
// other file of a version is a hard link to the previous version's.
void MakeVersions(const std::string& root, uint64_t totalBytes, int files) {
    const uint64_t each = totalBytes / static_cast<uint64_t>(files);
    for (int v = 1; v <= kSteps + 1; ++v) {
        const std::string dir = root + "/v" + std::to_string(v);
        for (int i = 0; i < files; ++i) {
            char name[64];
            std::snprintf(name, sizeof(name), "/Data/Set%02d/file%05d.bin", i % 50, i);
            const std::string path = dir + name;
            if (v > 1 && i % 4 != v - 1) {
                fs::create_directories(fs::path(path).parent_path());
                fs::create_hard_link(root + "/v" + std::to_string(v - 1) + name, path);
                continue;
            }
            WriteNoise(path, each, static_cast<uint64_t>(i) * 16 + static_cast<uint64_t>(v));
        }
        std::ofstream(dir + "/Varngame.exe") << "build " << v << "\n";
    }
}

int Sh(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 1;
}

struct Measure {
    double seconds = 0;
    double system = 0;
    double user = 0;
    long peakKiB = 0;
    uint64_t written = 0;  // bytes the run and its children sent to the file system
    int rc = 1;
};

// Runs a shell command under /usr/bin/time and reads its figures. The block
// count is the kernel's write accounting of the whole process tree (512-byte
// units), so every byte the run dirtied counts, synced or not.
Measure Timed(const std::string& command, const std::string& scratch) {
    const std::string out = scratch + "/time.txt";
    Measure m;
    m.rc = Sh("/usr/bin/time -f '%e %S %U %M %O' -o '" + out + "' bash -c '" + command + "'");
    std::ifstream in(out);
    uint64_t blocks = 0;
    in >> m.seconds >> m.system >> m.user >> m.peakKiB >> blocks;
    m.written = blocks * 512;
    return m;
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

bool SameTree(const std::string& a, const std::string& b) {
    // The library's own directories (update work area, user log) are not game files.
    return Sh("diff -r -q -x Update -x Log " + Quote(a) + " " + Quote(b) + " > /dev/null") == 0;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--client") == 0)
        return RunClient(std::strcmp(argv[2], "callback") == 0, argv[3], std::atoi(argv[4]));

    uint64_t sizeMb = 48;
    int files = 200;
    bool keep = false;
    bool library = false;
    int rounds = 5;
    std::string bin = VARN_BENCH_BINARY_DIR "/bin";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size-mb") && i + 1 < argc)
            sizeMb = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--files") && i + 1 < argc)
            files = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--bin") && i + 1 < argc)
            bin = argv[++i];
        else if (!std::strcmp(argv[i], "--library"))
            library = true;
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
    }
    if (!fs::exists(bin + "/varn-patch")) {
        std::fprintf(stderr, "varn-patch is not built in %s\n", bin.c_str());
        return 1;
    }
    std::string pattern = (fs::temp_directory_path() / "varn-patch-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 1;
    const std::string root = pattern;
    std::printf("bench_patch: %llu MiB in %d files, %d steps, %d rounds, work dir %s\n",
                static_cast<unsigned long long>(sizeMb), files, kSteps, rounds, root.c_str());

    MakeVersions(root, sizeMb << 20, files);
    std::string publish = Quote(bin + "/varn-publish") + " --out " + Quote(root + "/www/patch") +
                          " --update-name Varn";
    for (int v = 1; v <= kSteps + 1; ++v)
        publish += " " + Version(v) + ":" + Quote(root + "/v" + std::to_string(v));
    if (Sh(publish + " > /dev/null") != 0) {
        std::fprintf(stderr, "publishing failed\n");
        return 1;
    }
    uint64_t archiveBytes = 0;
    for (int s = 1; s <= kSteps; ++s)
        archiveBytes +=
            fs::file_size(root + "/www/patch/" + Version(s) + "_to_" + Version(s + 1) + ".lbc");
    varntest::HttpServer server(root + "/www");
    const std::string url = server.url() + "/patch/";
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    // A fresh version-1 install, flushed, so that neither contender pays for
    // the writeback of the install it starts from.
    auto install = [&](const std::string& game) {
        fs::remove_all(game);
        const bool ok = Sh(Quote(bin + "/varn-publish") + " install --version " + Version(1) +
                           " --update-name Varn " + Quote(root + "/v1") + " " + Quote(game) +
                           " > /dev/null") == 0;
        Sh("sync");
        return ok;
    };
    const std::string latest = root + "/v" + std::to_string(kSteps + 1);

    // The tightest peer a user could script: each archive to disk, its
    // fingerprint, then unpacked straight over the game directory.
    std::string peer = "set -e; cd " + root + "; ";
    for (int s = 1; s <= kSteps; ++s) {
        const std::string name = Version(s) + "_to_" + Version(s + 1) + ".lbc";
        peer += "curl -s -f -o peer.lbc " + url + name +
                "; sha1sum peer.lbc > /dev/null; "
                "unzip -o -q peer.lbc -x filelist.uvf -d game-peer; rm -f peer.lbc; ";
    }
    auto runPeer = [&]() {
        install(root + "/game-peer");
        Measure m = Timed(peer, root);
        return std::make_pair(m, SameTree(root + "/game-peer", latest));
    };
    auto runHost = [&]() {
        // The headless host lives in the game directory it updates.
        const std::string game = root + "/game-host";
        install(game);
        for (const char* file : {"varn-patch", "libvarncore.so", "libvarnplatform.so",
                                 "Resource_Jpn.ini", "Resource_Eng.ini"})
            if (fs::exists(bin + "/" + file))
                fs::copy_file(bin + "/" + file, game + "/" + file);
        std::ofstream(game + "/version.ini") << "[PATH]\nPatchRoot=" << server.url() << "/patch\n";
        Sh("sync");
        Measure m = Timed(Quote(game + "/varn-patch") + " > /dev/null", root);
        for (const char* file : {"varn-patch", "libvarncore.so", "libvarnplatform.so",
                                 "Resource_Jpn.ini", "Resource_Eng.ini", "version.ini"})
            fs::remove(game + "/" + file);
        return std::make_pair(m, SameTree(game, latest));
    };

    struct Row {
        int round;
        const char* what;
        Measure m;
        bool same;
    };
    std::vector<Row> rows;
    for (int round = 0; round < rounds; ++round) {
        // The order alternates, so neither always runs on the other's
        // leftover page cache and writeback.
        for (int turn = 0; turn < 2; ++turn) {
            const bool peerTurn = (round + turn) % 2 == 0;
            const auto [m, same] = peerTurn ? runPeer() : runHost();
            rows.push_back({round, peerTurn ? "peer" : "varn-patch", m, same});
        }
        if (library) {
            for (const char* mode : {"callback", "silent"}) {
                const std::string game = root + "/game-" + mode;
                install(game);
                Measure c = Timed(Quote(self) + " --client " + mode + " " + Quote(game) + " " +
                                      std::to_string(server.port()),
                                  root);
                rows.push_back({round, mode[0] == 'c' ? "library, callback" : "library, silent", c,
                                SameTree(game, latest)});
            }
        }
    }
    std::printf("%-5s %-18s %8s %7s %7s %9s %10s %s\n", "round", "run", "seconds", "sys", "user",
                "peak MiB", "written MiB", "result");
    bool allOk = true;
    for (const Row& r : rows) {
        const bool ok = r.m.rc == 0 && r.same;
        allOk = allOk && ok;
        std::printf("%-5d %-18s %8.2f %7.2f %7.2f %9.1f %10.1f %s\n", r.round, r.what, r.m.seconds,
                    r.m.system, r.m.user, r.m.peakKiB / 1024.0,
                    static_cast<double>(r.m.written) / (1 << 20), ok ? "ok" : "MISMATCH");
    }
    auto median = [&](const char* what, auto field) {
        std::vector<double> v;
        for (const Row& r : rows)
            if (!std::strcmp(r.what, what))
                v.push_back(field(r.m));
        return Median(v);
    };
    auto wall = [](const Measure& m) { return m.seconds; };
    auto bytes = [](const Measure& m) { return static_cast<double>(m.written); };
    const double archives = static_cast<double>(archiveBytes);
    std::printf("archives: %.1f MiB\n", archives / (1 << 20));
    for (const char* what : {"peer", "varn-patch", "library, callback", "library, silent"}) {
        if (median(what, wall) == 0)
            continue;
        std::printf("median %-18s %6.2f s, written %7.1f MiB (%.2fx the archives)\n", what,
                    median(what, wall), median(what, bytes) / (1 << 20),
                    median(what, bytes) / archives);
    }
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        double p = 0, h = 0;
        for (const Row& r : rows) {
            if (r.round == round && std::strcmp(r.what, "peer") == 0)
                p = r.m.seconds;
            else if (r.round == round && std::strcmp(r.what, "varn-patch") == 0)
                h = r.m.seconds;
        }
        if (p > 0)
            ratios.push_back(h / p);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("ratio varn-patch/peer: medians %.3f (target <= 0.55); per round %.3f .. %.3f\n",
                median("varn-patch", wall) / median("peer", wall), ratios.front(), ratios.back());
    std::printf("written by varn-patch: %.2fx the archives (target <= 2.1)\n",
                median("varn-patch", bytes) / archives);
    if (!keep)
        fs::remove_all(root);
    return allOk ? 0 : 1;
}

// bench_patch: brings a fresh version-1 install to the latest version over
// a 3-step incremental chain served by nginx on 127.0.0.1, and does the same
// through the shipped library (in-process, with and without a progress
// callback) and through the varn-patch host when it is built, and does the
// same with the peer pipeline (curl each archive, sha1sum, unzip -o, cp -r).
// Each measured run is a child process under /usr/bin/time, which reports
// its wall time and peak resident memory.
//
//   bench_patch [--size-mb N] [--files N] [--rounds N] [--keep]
// Figures are the best of the rounds.
//   (full size: bench_patch --size-mb 1024 --files 2000)
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
    long peakKiB = 0;
    int rc = 1;
};

// Runs a shell command under /usr/bin/time and reads its figures.
Measure Timed(const std::string& command, const std::string& scratch) {
    const std::string out = scratch + "/time.txt";
    Measure m;
    m.rc = Sh("/usr/bin/time -f '%e %M' -o '" + out + "' bash -c '" + command + "'");
    std::ifstream in(out);
    in >> m.seconds >> m.peakKiB;
    return m;
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

bool SameTree(const std::string& a, const std::string& b) {
    // The library's own directories (update work area, user log) are not game files.
    return Sh("diff -r -q -x Update -x Log " + Quote(a) + " " + Quote(b) + " > /dev/null") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--client") == 0)
        return RunClient(std::strcmp(argv[2], "callback") == 0, argv[3], std::atoi(argv[4]));

    uint64_t sizeMb = 48;
    int files = 200;
    bool keep = false;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size-mb") && i + 1 < argc)
            sizeMb = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--files") && i + 1 < argc)
            files = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
    }
    const std::string bin = VARN_BENCH_BINARY_DIR "/bin";
    std::string pattern = (fs::temp_directory_path() / "varn-patch-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 1;
    const std::string root = pattern;
    std::printf("bench_patch: %llu MiB in %d files, %d steps, work dir %s\n",
                static_cast<unsigned long long>(sizeMb), files, kSteps, root.c_str());

    MakeVersions(root, sizeMb << 20, files);
    std::string publish = Quote(bin + "/varn-publish") + " --out " + Quote(root + "/www/patch") +
                          " --update-name Varn";
    for (int v = 1; v <= kSteps + 1; ++v)
        publish += " " + Version(v) + ":" + Quote(root + "/v" + std::to_string(v));
    if (Sh(publish + " > /dev/null") != 0) {
        std::fprintf(stderr, "publishing failed\n");
        return 1;
    }
    varntest::HttpServer server(root + "/www");
    const std::string url = server.url() + "/patch/";
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    auto install = [&](const std::string& game) {
        fs::remove_all(game);
        return Sh(Quote(bin + "/varn-publish") + " install --version " + Version(1) +
                  " --update-name Varn " + Quote(root + "/v1") + " " + Quote(game) +
                  " > /dev/null") == 0;
    };
    const std::string latest = root + "/v" + std::to_string(kSteps + 1);

    // The peer pipeline: the same archives, in chain order.
    std::string peer = "set -e; cd " + root + "; rm -rf work; ";
    for (int s = 1; s <= kSteps; ++s) {
        const std::string name = Version(s) + "_to_" + Version(s + 1) + ".lbc";
        peer += "curl -s -f -o peer.lbc " + url + name +
                "; sha1sum peer.lbc > /dev/null; "
                "mkdir work; unzip -o -q peer.lbc -d work; rm -f work/filelist.uvf; "
                "cp -r work/. game-peer/; rm -rf work peer.lbc; ";
    }

    struct Row {
        const char* what;
        Measure m;
        bool same;
    };
    std::vector<Row> rows;
    for (int round = 0; round < rounds; ++round) {
        install(root + "/game-peer");
        Measure p = Timed(peer, root);
        rows.push_back({"peer pipeline", p, SameTree(root + "/game-peer", latest)});
        if (fs::exists(bin + "/varn-patch")) {
            // The headless host lives in the game directory it updates.
            const std::string game = root + "/game-host";
            install(game);
            for (const char* file : {"varn-patch", "libvarncore.so", "Resource_Jpn.ini"})
                if (fs::exists(bin + "/" + file))
                    fs::copy_file(bin + "/" + file, game + "/" + file);
            std::ofstream(game + "/version.ini")
                << "[PATH]\nPatchRoot=" << server.url() << "/patch\n";
            Measure h = Timed(Quote(game + "/varn-patch") + " > /dev/null", root);
            for (const char* file :
                 {"varn-patch", "libvarncore.so", "Resource_Jpn.ini", "version.ini"})
                fs::remove(game + "/" + file);
            rows.push_back({"varn-patch", h, SameTree(game, latest)});
        }
        for (const char* mode : {"callback", "silent"}) {
            const std::string game = root + "/game-" + mode;
            install(game);
            Measure c = Timed(Quote(self) + " --client " + mode + " " + Quote(game) + " " +
                                  std::to_string(server.port()),
                              root);
            rows.push_back({mode[0] == 'c' ? "library, callback" : "library, no callback", c,
                            SameTree(game, latest)});
        }
    }
    std::printf("%-22s %9s %11s %s\n", "run", "seconds", "peak MiB", "result");
    for (const Row& r : rows)
        std::printf("%-22s %9.2f %11.1f %s\n", r.what, r.m.seconds, r.m.peakKiB / 1024.0,
                    r.m.rc == 0 && r.same ? "ok" : "MISMATCH");
    auto best = [&](const char* what) {
        double b = 1e30;
        for (const Row& r : rows)
            if (!std::strcmp(r.what, what))
                b = std::min(b, r.m.seconds);
        return b;
    };
    const double peerBest = best("peer pipeline");
    const double cb = best("library, callback");
    const double silent = best("library, no callback");
    std::printf("ratio library/peer: %.3f (target <= 1.15)\n", cb / peerBest);
    if (best("varn-patch") < 1e29)
        std::printf("ratio varn-patch/peer: %.3f\n", best("varn-patch") / peerBest);
    std::printf("callback cost: %+.1f%% (target < 5%%)\n", (cb / silent - 1.0) * 100.0);
    if (!keep)
        fs::remove_all(root);
    return 0;
}

// bench_download [MiB] (default 1024): creates a file of that size, serves it
// with nginx on 127.0.0.1 and downloads it once with CHTTPUpdater and once
// with `curl -o`, each in a child process; prints both wall times, their
// ratio and each child's peak resident set size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "support/HttpServer.h"
#include "transfer/HTTPUpdater.h"

namespace {

struct Result {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

void CreateFile(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    uint32_t x = 88172645u;
    for (auto& c : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    for (uint64_t done = 0; done < size; done += block.size()) {
        block[0] = static_cast<char>(done >> 20);  // no two blocks alike
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<uint64_t>(block.size(), size - done)));
    }
}

uint64_t g_notifications = 0;
void CountNotification(int32_t, UPDATE_CALLBACK_INFO*) {
    ++g_notifications;
}

int DownloadWithUpdater(int port, const std::string& local) {
    CHTTPUpdater http;
    CUpdaterBase::SetCallBack(nullptr, &CountNotification);
    http.SetConnectInfo("127.0.0.1", port, nullptr, nullptr, "", "", LAUNCHER_TYPE_SERVICE);
    if (!http.Connect())
        return 1;
    http.SetStopEvent(plat::CreateEvent(true, false));
    return http.DownloadFile("big.bin", local.c_str()) == 1 ? 0 : 1;
}

// Runs fn in a child process; times it and takes the child's peak RSS.
template <typename Fn>
Result RunChild(Fn fn) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    uint64_t size = mib << 20;
    std::string dir = (std::filesystem::temp_directory_path() / "varn-bench-XXXXXX").string();
    if (!mkdtemp(dir.data()))
        return 1;
    std::filesystem::create_directories(dir + "/www");
    CreateFile(dir + "/www/big.bin", size);
    int rc = 0;
    {
        varntest::HttpServer server(dir + "/www");
        std::string mine = dir + "/mine.bin", theirs = dir + "/curl.bin";
        Result a = RunChild([&] { return DownloadWithUpdater(server.port(), mine); });
        std::string url = server.url() + "/big.bin";
        Result b = RunChild([&] {
            execlp("curl", "curl", "-s", "-o", theirs.c_str(), url.c_str(),
                   static_cast<char*>(nullptr));
            return 127;
        });
        bool sizesOk =
            std::filesystem::file_size(mine) == size && std::filesystem::file_size(theirs) == size;
        std::printf("size            %llu MiB\n", static_cast<unsigned long long>(mib));
        std::printf("CHTTPUpdater    %.3f s  %.1f MiB/s  peak RSS %ld KiB%s\n", a.seconds,
                    mib / a.seconds, a.peakKiB, a.ok ? "" : "  FAILED");
        std::printf("curl -o         %.3f s  %.1f MiB/s  peak RSS %ld KiB%s\n", b.seconds,
                    mib / b.seconds, b.peakKiB, b.ok ? "" : "  FAILED");
        std::printf("time ratio      %.2f (CHTTPUpdater / curl)\n", a.seconds / b.seconds);
        rc = a.ok && b.ok && sizesOk ? 0 : 1;
    }
    std::filesystem::remove_all(dir);
    return rc;
}

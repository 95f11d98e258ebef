// bench_download [MiB] [rounds] (defaults 1024, 3): creates a file of that
// size, serves it with nginx and with an FTP server (pyftpdlib) on 127.0.0.1
// and, for each protocol, downloads it with the transfer object and with
// `curl -o`, each in a child process, over several rounds whose order
// alternates (the first of a pair may gain or lose from the page cache
// writing back the other's file). Prints each protocol's median wall times,
// their ratio and the children's peak resident set size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "transfer/FTPUpdater.h"
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

template <class Updater>
int DownloadWithUpdater(int port, const char* user, const char* password,
                        const std::string& local) {
    Updater updater;
    CUpdaterBase::SetCallBack(nullptr, &CountNotification);
    updater.SetConnectInfo("127.0.0.1", port, user, password, "", "", LAUNCHER_TYPE_SERVICE);
    if (!updater.Connect())
        return 1;
    updater.SetStopEvent(plat::CreateEvent(true, false));
    return updater.DownloadFile("big.bin", local.c_str()) == 1 ? 0 : 1;
}

int Curl(const std::string& url, const std::string& out) {
    execlp("curl", "curl", "-s", "-o", out.c_str(), url.c_str(), static_cast<char*>(nullptr));
    return 127;
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

struct Summary {
    double seconds = 0;  // median
    long peakKiB = 0;    // largest
    bool ok = true;
};

Summary Summarise(const std::vector<Result>& runs) {
    std::vector<double> times;
    Summary s;
    for (const Result& r : runs) {
        times.push_back(r.seconds);
        s.peakKiB = std::max(s.peakKiB, r.peakKiB);
        s.ok = s.ok && r.ok;
    }
    std::sort(times.begin(), times.end());
    s.seconds = times.empty() ? 0 : times[times.size() / 2];
    return s;
}

// Rounds of the two downloads, the updater first in even rounds and curl
// first in odd ones; each output is removed after it is checked.
bool Compare(const char* name, int rounds, uint64_t size, uint64_t mib,
             const std::function<int(const std::string&)>& mine,
             const std::function<int(const std::string&)>& theirs, const std::string& dir) {
    std::vector<Result> a, b;
    bool sizesOk = true;
    auto runOne = [&](bool updater) {
        const std::string out = dir + (updater ? "/mine.bin" : "/curl.bin");
        Result r = RunChild([&] { return updater ? mine(out) : theirs(out); });
        std::error_code ec;
        sizesOk = sizesOk && std::filesystem::file_size(out, ec) == size;
        std::filesystem::remove(out, ec);
        (updater ? a : b).push_back(r);
    };
    for (int round = 0; round < rounds; ++round) {
        runOne(round % 2 == 0);
        runOne(round % 2 != 0);
    }
    const Summary sa = Summarise(a), sb = Summarise(b);
    std::printf("%-4s updater  median %.3f s  %.1f MiB/s  peak RSS %ld KiB%s\n", name, sa.seconds,
                mib / sa.seconds, sa.peakKiB, sa.ok ? "" : "  FAILED");
    std::printf("%-4s curl -o  median %.3f s  %.1f MiB/s  peak RSS %ld KiB%s\n", name, sb.seconds,
                mib / sb.seconds, sb.peakKiB, sb.ok ? "" : "  FAILED");
    std::printf("%-4s ratio    %.2f (updater / curl, medians of %d rounds)\n", name,
                sa.seconds / sb.seconds, rounds);
    return sa.ok && sb.ok && sizesOk;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    uint64_t size = mib << 20;
    std::string dir = (std::filesystem::temp_directory_path() / "varn-bench-XXXXXX").string();
    if (!mkdtemp(dir.data()) || rounds < 1)
        return 1;
    std::filesystem::create_directories(dir + "/www");
    CreateFile(dir + "/www/big.bin", size);
    std::printf("size %llu MiB, %d rounds, order alternating\n",
                static_cast<unsigned long long>(mib), rounds);
    bool ok = true;
    {
        varntest::HttpServer http(dir + "/www");
        const std::string url = http.url() + "/big.bin";
        ok = Compare(
                 "HTTP", rounds, size, mib,
                 [&](const std::string& out) {
                     return DownloadWithUpdater<CHTTPUpdater>(http.port(), nullptr, nullptr, out);
                 },
                 [&](const std::string& out) { return Curl(url, out); }, dir) &&
             ok;
    }
    {
        const varntest::FtpServer::Options account;
        varntest::FtpServer ftp(dir + "/www", account);
        const std::string url = "ftp://" + account.user + ":" + account.password +
                                "@127.0.0.1:" + std::to_string(ftp.port()) + "/big.bin";
        ok = Compare(
                 "FTP", rounds, size, mib,
                 [&](const std::string& out) {
                     return DownloadWithUpdater<CFTPUpdater>(ftp.port(), account.user.c_str(),
                                                             account.password.c_str(), out);
                 },
                 [&](const std::string& out) { return Curl(url, out); }, dir) &&
             ok;
    }
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}

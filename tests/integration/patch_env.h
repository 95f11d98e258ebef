// Fixtures of the patch-run integration tests: a sample game published into
// a patch root, served by a real HTTP server on 127.0.0.1, a game directory
// in a private temporary directory, and a CUpdateModule driving the shipped
// library against them.
#pragma once
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/HttpServer.h"
#include "support/PublishFixture.h"
#include "updatemodule/UpdateModule.h"

namespace patchtest {

namespace fs = std::filesystem;

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Notifications of a run, in order, with the record's file name and
// version at that moment. The callback is a plain function: one recorder
// per process (every test runs in its own process).
struct Seen {
    int code;
    std::string name;
    std::string major;
    int index, count;
};

struct Recorder {
    std::mutex lock;
    std::vector<Seen> seen;
    // Runs inside the callback (on the worker) after recording.
    std::function<void(int, UPDATE_CALLBACK_INFO*)> hook;
    static Recorder& Get() {
        static Recorder r;
        return r;
    }
    static void Callback(int32_t code, UPDATE_CALLBACK_INFO* info) {
        Recorder& r = Get();
        {
            std::lock_guard<std::mutex> hold(r.lock);
            r.seen.push_back(
                {code, info->szFileName, info->szMajorVersion, info->nFileIndex, info->nFileCount});
        }
        if (r.hook)
            r.hook(code, info);
    }
    std::vector<int> Codes() {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<int> codes;
        for (const Seen& s : seen)
            codes.push_back(s.code);
        return codes;
    }
    // Names of the archives whose file lists were applied, with the local
    // version the record showed when each began.
    std::vector<std::pair<std::string, std::string>> Applied() {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<std::pair<std::string, std::string>> out;
        for (const Seen& s : seen)
            if (s.code == NOTIFY_APPLY_START)
                out.push_back({s.name, s.major});
        return out;
    }
};

// A stored zip of (name, content) entries.
inline bool MakeZip(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const auto& [name, content] : entries) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         0, 0, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, content.data(),
                                       static_cast<unsigned>(content.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// The service's fingerprint of a file below 88 000 bytes: its plain SHA-1.
inline std::string SmallFileFingerprint(const std::string& path) {
    const std::string data = ReadText(path);
    EXPECT_LT(data.size(), 88000u) << "larger files are sampled";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(two, sizeof(two), "%02X", digest[i]);
        hex += two;
    }
    return hex;
}

// Values of one versionlist.uvf section (plain INI as published).
inline std::string ListValue(const std::string& listPath, const std::string& section,
                             const std::string& key) {
    std::ifstream in(listPath);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 2 && line.front() == '[') {
            current = line.substr(1, line.size() - 2);
        } else if (current == section && line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return "";
}

// Rewrites one key of one versionlist.uvf section in place.
inline void SetListValue(const std::string& listPath, const std::string& section,
                         const std::string& key, const std::string& value) {
    std::ifstream in(listPath);
    std::string line, current, out;
    while (std::getline(in, line)) {
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf)
            line.pop_back();
        if (line.size() > 2 && line.front() == '[')
            current = line.substr(1, line.size() - 2);
        else if (current == section && line.rfind(key + "=", 0) == 0)
            line = key + "=" + value;
        out += line + (crlf ? "\r\n" : "\n");
    }
    in.close();
    WriteText(listPath, out);
}

// The module with its command-line step opened, so a test can give it the
// options a launcher would have been started with.
class TestModule : public CUpdateModule {
public:
    using CUpdateModule::ApplyCommandLine;
};

class PatchRunTest : public ::testing::Test {
protected:
    // Publishes the sample game (extra publisher options), starts the
    // server on the patch root's parent (remote directory "patch") and
    // installs version index `installed` into a fresh game directory.
    void Prepare(int installed, const std::vector<std::string>& publishOptions = {}) {
        ASSERT_EQ(0, fixture.Publish(publishOptions));
        game = fixture.Root() + "/game";
        if (installed >= 0) {
            ASSERT_EQ(0, fixture.Install(installed, game));
        }
        fs::create_directories(game + "/Update");
        StartServer();
        Configure();
    }
    void StartServer() { server = std::make_unique<varntest::HttpServer>(fixture.Root()); }
    void Configure() {
        Recorder::Get().seen.clear();
        module.SetConnectInfo("127.0.0.1", server->port(), "", "", "patch", "patch", 0, false, 0,
                              SERVICE_TYPE_DEFAULT);
        module.SetUpdatePath(game.c_str());
        fs::current_path(game);
        module.SetLauncherVersion("1.0.6.1");
        module.SetCallBack(nullptr, &Recorder::Callback);
    }
    std::string Patch(const std::string& name) const { return fixture.OutDir() + "/" + name; }
    // Number of GET requests the server answered for a patch-root file.
    int Requests(const std::string& name) const {
        const std::string suffix = "/patch/" + name;
        int n = 0;
        for (const std::string& line : server->AccessLog())
            if (line.size() >= suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
                ++n;
        return n;
    }
    void ExpectVersion(int index) {
        for (const std::string& name : varntest::CPublishFixture::FileNames(index))
            EXPECT_TRUE(varntest::CPublishFixture::Content(name, index) ==
                        ReadText(game + "/" + name))
                << name << " is not as in version index " << index;
    }
    std::string LocalVersion() {
        char local[64] = {};
        module.GetMajorUpdateVersion(local, nullptr);
        return local;
    }
    // Runs the worker thread to its end; the bound only keeps a broken run
    // from hanging the suite.
    void RunWorker() {
        ASSERT_EQ(1, module.StartUpdate());
        for (int i = 0; i < 6000 && !WorkerDone(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(WorkerDone());
    }
    bool WorkerDone() {
        const std::vector<int> codes = Recorder::Get().Codes();
        const bool ended = !codes.empty() && (codes.back() == NOTIFY_UPDATE_COMPLETE ||
                                              codes.back() == NOTIFY_UPDATE_FAILED);
        return ended && module.IsClosedThread() != 0;
    }
    void TearDown() override {
        module.CloseThread();
        Recorder::Get().hook = nullptr;
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        for (auto& e : fs::recursive_directory_iterator(fixture.Root(), ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }

    varntest::CPublishFixture fixture{3};
    std::unique_ptr<varntest::HttpServer> server;
    std::string game;
    TestModule module;
};

}  // namespace patchtest

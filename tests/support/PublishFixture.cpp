#include "support/PublishFixture.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Process.h"

namespace varntest {

namespace {

// Incompressible bytes, so that archive sizes follow file sizes.
std::string BigContent(int generation, size_t size = 100000) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u + static_cast<uint32_t>(generation);
    for (char& c : s)
        c = static_cast<char>(x ^= x << 13, x ^= x >> 17, x ^= x << 5);
    return s;
}

}  // namespace

CPublishFixture::CPublishFixture(int versionCount)
    : m_dir(TempDir::Options{.prefix = "varn-publish"}), m_count(versionCount) {
    for (int i = 0; i < m_count; ++i)
        for (const std::string& name : FileNames(i))
            WriteFile(VersionDir(i) + "/" + name, Content(name, i));
}

std::vector<std::string> CPublishFixture::FileNames(int index) {
    std::vector<std::string> names = {"Data/big.bin", "Data/common.dat"};
    for (int k = 1; k <= index; ++k)
        names.push_back("Data/Map/level" + std::to_string(k) + ".map");
    names.push_back("Varngame.exe");
    names.push_back("settings.ini");
    std::sort(names.begin(), names.end());
    return names;
}

std::string CPublishFixture::Content(const std::string& name, int index) {
    if (name == "Data/big.bin")
        return BigContent(index >= 1 ? 1 : 0);
    if (name == "Data/common.dat")
        return BigContent(7, 30000);
    if (name == "Varngame.exe")
        return "game build " + std::to_string(index) + "\n";
    if (name == "settings.ini")
        return "[COMMON]\nLEVEL=" + std::to_string(index) + "\n";
    const std::string prefix = "Data/Map/level";
    if (name.rfind(prefix, 0) == 0) {
        int k = std::atoi(name.c_str() + prefix.size());
        return k >= 1 && k <= index ? "map " + std::to_string(k) + "\n" : "";
    }
    return "";
}

int CPublishFixture::Publish(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {"--out", OutDir(), "--update-name", UpdateName()};
    args.insert(args.end(), extra.begin(), extra.end());
    for (int i = 0; i < m_count; ++i)
        args.push_back(Version(i) + ":" + VersionDir(i));
    return Run(args);
}

int CPublishFixture::Install(int index, const std::string& gameDir) const {
    return Run({"install", "--version", Version(index), "--update-name", UpdateName(),
                VersionDir(index), gameDir});
}

int CPublishFixture::Run(const std::vector<std::string>& args) const {
    if (m_runner)
        return m_runner(args);
    uint32_t pid = 0;
    if (!plat::StartProcess(VARN_BINARY_DIR "/bin/varn-publish", args, &pid))
        return -1;
    int code = -1;
    // Generous: the publisher works on a few small files only.
    if (!plat::WaitForProcess(pid, 120000, &code)) {
        plat::TerminateProcess(pid);
        plat::WaitForProcess(pid, 5000, &code);
        return -1;
    }
    return code;
}

}  // namespace varntest

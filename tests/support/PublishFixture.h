// CPublishFixture: a small sample game in several versions, built in a fresh
// temporary directory, and the means to publish it with varn-publish into a
// patch root or install one version into a game directory.
//
// The publisher runs as the built binary (VARN_BINARY_DIR "/bin/varn-publish")
// unless a test installs an in-process runner with SetRunner.
//
// Versions are "1.0.0.1", "1.0.0.2", ... (index 0 is the oldest). Contents:
//   Varngame.exe       changes in every version
//   Data/common.dat    30 000 bytes, the same in every version: it makes the
//                      full archive bigger than the chain of incremental ones
//   Data/big.bin       100 000 bytes (large enough for the sampled
//                      fingerprint); changes in version index 1 only
//   Data/Map/levelK.map  added by version index K (K >= 1)
//   settings.ini       changes in every version; publish with --config
//                      "*.ini" to make it a configuration file
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace varntest {

class CPublishFixture {
public:
    using Runner = std::function<int(const std::vector<std::string>& args)>;

    // Creates the versions in a temporary directory removed on destruction.
    // Throws std::runtime_error when the directory cannot be made.
    explicit CPublishFixture(int versionCount = 3);

    const std::string& Root() const { return m_dir.path(); }
    static std::string Version(int index) { return "1.0.0." + std::to_string(index + 1); }
    std::string VersionDir(int index) const { return m_dir / ("versions/" + Version(index)); }
    // Default patch root: <root>/patch.
    std::string OutDir() const { return m_dir / "patch"; }
    static const char* UpdateName() { return "Varn"; }
    // Content the fixture gives a file in a version ("" when absent).
    static std::string Content(const std::string& name, int index);
    // Names of the files of a version, sorted.
    static std::vector<std::string> FileNames(int index);

    // Exit code of: --out OutDir() --update-name Varn <extra> <every version>.
    int Publish(const std::vector<std::string>& extra = {}) const;
    // varn-publish install of version index into gameDir.
    int Install(int index, const std::string& gameDir) const;
    // Runs the publisher with arbitrary arguments.
    int Run(const std::vector<std::string>& args) const;

    void SetRunner(Runner runner) { m_runner = std::move(runner); }

    // Creates parent directories and writes the file.
    static void WriteFile(const std::string& path, const std::string& content) {
        TempDir::WriteFile(path, content);
    }

private:
    TempDir m_dir;
    int m_count;
    Runner m_runner;
};

}  // namespace varntest

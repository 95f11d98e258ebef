// A fresh private directory for one test (mkdtemp under the system temp
// dir), removed with everything in it when the object goes away, read-only
// leftovers included. Optionally it becomes the current directory and/or
// $TMPDIR for its lifetime (so code that writes beside the working directory
// or into the private temp dir stays inside it); both are restored on
// destruction. Not thread-safe: chdir and setenv affect the whole process,
// so create and destroy it on the test's main thread.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace varntest {

class TempDir {
public:
    struct Options {
        bool enter = false;        // chdir into the directory
        bool redirectTmp = false;  // point $TMPDIR at it
        const char* prefix = "varn-test";
    };

    TempDir() : TempDir(Options{}) {}
    // Throws std::runtime_error when the directory cannot be made or entered.
    explicit TempDir(const Options& opt) {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / (std::string(opt.prefix) + "-XXXXXX"))
                .string();
        if (mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("TempDir: mkdtemp failed");
        m_path = tmpl;
        if (opt.enter) {
            std::error_code ec;
            m_outerCwd = std::filesystem::current_path(ec).string();
            if (chdir(m_path.c_str()) != 0) {
                std::filesystem::remove(m_path, ec);
                throw std::runtime_error("TempDir: chdir failed");
            }
        }
        if (opt.redirectTmp) {
            const char* outer = getenv("TMPDIR");
            m_outerTmp = std::string(outer ? outer : "");
            m_hadOuterTmp = outer != nullptr;
            setenv("TMPDIR", m_path.c_str(), 1);
        }
    }
    ~TempDir() {
        if (m_outerCwd && (m_outerCwd->empty() || chdir(m_outerCwd->c_str()) != 0))
            (void)!chdir("/");
        if (m_outerTmp) {
            if (m_hadOuterTmp)
                setenv("TMPDIR", m_outerTmp->c_str(), 1);
            else
                unsetenv("TMPDIR");
        }
        std::error_code ec;
        // A test may leave read-only files or directories behind; they must
        // not keep the tree alive.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (!it->is_symlink(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Absolute path, without a trailing "/".
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // Writes bytes to path, creating missing parent directories.
    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // The whole file, "" when it cannot be read.
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string m_path;
    std::optional<std::string> m_outerCwd;
    std::optional<std::string> m_outerTmp;
    bool m_hadOuterTmp = false;
};

}  // namespace varntest

// Program paths, the command line, the current directory, the private
// temporary directory and path joining for data-format names.
#include "platform/Path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/Error.h"
#include "platform/Process.h"

namespace plat {
namespace {

std::vector<std::string> ReadSelfArgs() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) {
        args.push_back(arg);
    }
    return args;
}

// A directory is ours to keep temporary files in only when we own it and
// nobody else can write to it; a planted or shared directory would let
// another user swap the files we unscramble there.
bool IsPrivateDir(const std::string& dir) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) {
        return false;
    }
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Creates dir with mode 0700 when missing; true when it is then private.
bool EnsurePrivateDir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return IsPrivateDir(dir);
}

std::string BaseTempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string root = (tmp && *tmp) ? tmp : "/tmp";
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

std::string ComputePrivateTempDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // $TMPDIR set explicitly (tests, operators) takes precedence over the
    // session runtime directory, so the location can always be redirected.
    if (runtime && *runtime && !std::getenv("TMPDIR") && IsPrivateDir(runtime)) {
        std::string dir = JoinPath(runtime, "varn");
        if (EnsurePrivateDir(dir)) {
            return dir;
        }
    }
    std::string root = BaseTempRoot();
    std::string dir = root + "/varn-" + std::to_string(geteuid());
    if (EnsurePrivateDir(dir)) {
        return dir;
    }
    std::string templ = root + "/varn-" + std::to_string(geteuid()) + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) {
        return buf.data();
    }
    // Nothing usable: fall back to the root itself so callers get a path;
    // their file operations report the failure.
    return root;
}

std::string EnvValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// One "XDG_DESKTOP_DIR=..." line of user-dirs.dirs: a quoted "$HOME/..."
// or absolute path. "" for any other line or form.
std::string DesktopEntryValue(const std::string& line, const std::string& home) {
    static const std::string key = "XDG_DESKTOP_DIR=\"";
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) {
        return "";
    }
    start += key.size();
    const size_t end = line.find('"', start);
    if (end == std::string::npos) {
        return "";
    }
    std::string value = line.substr(start, end - start);
    if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
        return home.empty() ? "" : home + value.substr(5);
    }
    return value.rfind('/', 0) == 0 ? value : "";
}

std::string DesktopFromUserDirs(const std::string& home) {
    std::string config = EnvValue("XDG_CONFIG_HOME");
    if (config.rfind('/', 0) != 0) {
        config = home.empty() ? "" : JoinPath(home, ".config");
    }
    if (config.empty()) {
        return "";
    }
    std::ifstream in(JoinPath(config, "user-dirs.dirs"));
    std::string line, found;
    while (std::getline(in, line)) {
        const std::string value = DesktopEntryValue(line, home);
        if (!value.empty()) {
            found = value;  // the last assignment wins, as in the shell
        }
    }
    return found;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string GetModulePath() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n < 0) {
        SetLastErrorFromErrno();
        return "";
    }
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::string GetModuleDir() {
    return DirName(GetModulePath());
}

std::string GetModuleFileName() {
    return BaseName(GetModulePath());
}

std::string GetCommandLine() {
    // The full program path, not argv[0] as typed: hosts hand this line on
    // to programs started from another directory.
    return QuoteCommandLineArg(GetModulePath()) + GetCommandLineArgs();
}

std::string GetCommandLineArgs() {
    std::vector<std::string> args = ReadSelfArgs();
    std::string out;
    for (size_t i = 1; i < args.size(); ++i) {
        out += " " + QuoteCommandLineArg(args[i]);
    }
    return out;
}

std::string GetCurrentDir() {
    std::vector<char> buf(4096);
    if (getcwd(buf.data(), buf.size()) == nullptr) {
        SetLastErrorFromErrno();
        return "";
    }
    return buf.data();
}

bool SetCurrentDir(const std::string& dir) {
    if (chdir(dir.c_str()) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

std::string GetPrivateTempDir() {
    // Computed once: every caller must agree on where the unscrambled copies
    // and the lock files live, even if mkdtemp was needed. A temp cleaner
    // (or a test) may remove the directory while we run; it is then put back
    // with the same checks, or replaced by a fresh private one, rather than
    // handing out a dead or foreign path.
    static std::mutex lock;
    static std::string dir;
    std::lock_guard<std::mutex> guard(lock);
    if (dir.empty()) {
        dir = ComputePrivateTempDir();
    } else if (struct stat st{}; ::lstat(dir.c_str(), &st) != 0 && errno == ENOENT) {
        if (!EnsurePrivateDir(dir)) {
            dir = ComputePrivateTempDir();
        }
    }
    return dir;
}

std::string GetHomeDir() {
    const std::string home = EnvValue("HOME");
    if (!home.empty()) {
        return WithoutTrailingSlash(home);
    }
    struct passwd entry;
    struct passwd* result = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr) {
        return WithoutTrailingSlash(result->pw_dir);
    }
    return "";
}

std::string GetUserDesktopDir() {
    std::string desktop = EnvValue("XDG_DESKTOP_DIR");
    const std::string home = GetHomeDir();
    if (desktop.rfind('/', 0) != 0) {
        desktop = DesktopFromUserDirs(home);
    }
    if (desktop.empty() && !home.empty()) {
        desktop = JoinPath(home, "Desktop");
    }
    return WithoutTrailingSlash(desktop);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    std::string left = dir;
    while (left.size() > 1 && left.back() == '/') {
        left.pop_back();
    }
    size_t start = 0;
    while (start < name.size() && name[start] == '/') {
        ++start;
    }
    if (left == "/") {
        return "/" + name.substr(start);
    }
    return left + "/" + name.substr(start);
}

std::string JoinDataPath(const std::string& dir, const std::string& dataName) {
    std::string local = dataName;
    for (char& c : local) {
        if (c == '\\') {
            c = '/';
        }
    }
    return JoinPath(dir, local);
}

bool IsSafeRelativeName(const std::string& dataName) {
    if (dataName.empty() || dataName[0] == '/' || dataName[0] == '\\') {
        return false;
    }
    if (dataName.find(':') != std::string::npos || dataName.find('\0') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= dataName.size()) {
        size_t end = dataName.find_first_of("/\\", start);
        if (end == std::string::npos) {
            end = dataName.size();
        }
        if (dataName.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::string DirName(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    if (pos == std::string::npos) {
        return "";
    }
    if (pos == 0) {
        return path.substr(0, 1);
    }
    return path.substr(0, pos);
}

std::string BaseName(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace plat

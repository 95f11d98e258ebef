// The process list from /proc, termination, starting programs and the
// single-instance lock.
#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/Error.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"

extern char** environ;

namespace plat {
namespace {

std::vector<std::string> ReadArgs(const std::string& procDir) {
    std::ifstream in(procDir + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) {
        args.push_back(arg);
    }
    return args;
}

bool EndsWithExe(const std::string& s) {
    if (s.size() < 4) {
        return false;
    }
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tail == ".exe";
}

// A Win32 program running under a compatibility layer shows the layer's
// binary in /proc/<pid>/exe; the name the user knows is the .exe on its
// command line.
// The program file a process runs, " (deleted)" dropped; "" when unknown.
std::string ExePathOf(const std::string& procDir) {
    char buf[4096];
    ssize_t n = readlink((procDir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0) {
        return "";
    }
    std::string path(buf, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

std::string ExeNameOf(const std::string& procDir) {
    std::vector<std::string> args = ReadArgs(procDir);
    if (!args.empty() && EndsWithExe(args[0])) {
        return BaseName(args[0]);
    }
    for (const auto& a : args) {
        if (EndsWithExe(a)) {
            return BaseName(a);
        }
    }
    const std::string path = ExePathOf(procDir);
    if (!path.empty()) {
        return BaseName(path);
    }
    std::ifstream comm(procDir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool ParsePid(const char* s, uint32_t& pid) {
    if (*s == '\0') {
        return false;
    }
    unsigned long v = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9' || v > INT_MAX) {
            return false;
        }
        v = v * 10 + static_cast<unsigned long>(*s - '0');
    }
    pid = static_cast<uint32_t>(v);
    return v > 0 && v <= INT_MAX;
}

// Lock names come from callers ("Global\\Name" in Win32 style); only a plain
// file name may reach the file system, never a path or a hidden name.
std::string SafeLockName(const std::string& name) {
    std::string out;
    for (char c : name.substr(0, 200)) {
        bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        out.push_back(ok ? c : '_');
    }
    if (out.empty() || out[0] == '.') {
        out.insert(out.begin(), '_');
    }
    return out;
}

}  // namespace

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string GetEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::string(value) : std::string();
}

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> list;
    DIR* d = opendir("/proc");
    if (d == nullptr) {
        SetLastErrorFromErrno();
        return list;
    }
    while (dirent* e = readdir(d)) {
        uint32_t pid = 0;
        if (!ParsePid(e->d_name, pid)) {
            continue;
        }
        const std::string procDir = std::string("/proc/") + e->d_name;
        std::string name = ExeNameOf(procDir);
        // A process that ended while we looked has no name left; skip it.
        if (!name.empty()) {
            const std::string path = ExePathOf(procDir);
            list.push_back({pid, name, path.empty() ? "" : DirName(path)});
        }
    }
    closedir(d);
    return list;
}

bool TerminateProcess(uint32_t pid) {
    // 0 and values above INT_MAX would become a process group or "every
    // process" for kill(); they never name a single process.
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        SetLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER_CODE : Win32FromErrno(errno));
        return false;
    }
    return true;
}

namespace {

// This process's environment with the overrides applied; the strings the
// pointers lead to live in storage.
std::vector<char*> BuildEnvironment(const EnvironmentOverrides& env,
                                    std::vector<std::string>& storage) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : env) {
            replaced = replaced || key == name;
        }
        if (!replaced) {
            storage.push_back(text);
        }
    }
    for (const auto& [key, value] : env) {
        storage.push_back(key + "=" + value);
    }
    std::vector<char*> pointers;
    for (std::string& s : storage) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

bool StartProcess(const std::string& program, const std::vector<std::string>& args, uint32_t* pid,
                  const EnvironmentOverrides& env) {
    std::vector<std::string> envStorage;
    std::vector<char*> envp;
    if (!env.empty()) {
        envp = BuildEnvironment(env, envStorage);
    }
    char** const childEnv = env.empty() ? environ : envp.data();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    // Descriptors opened without O_CLOEXEC (by libraries) must not leak into
    // the started program, which may outlive us and keep files busy.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    // glibc reports a failed exec as the spawn's result, so a missing or
    // non-executable program fails here rather than in a silent child.
    int rc = program.find('/') != std::string::npos
                 ? posix_spawn(&child, program.c_str(), &actions, &attr, argv.data(), childEnv)
                 : posix_spawnp(&child, program.c_str(), &actions, &attr, argv.data(), childEnv);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        SetLastErrorFromErrno(rc);
        return false;
    }
    if (pid != nullptr) {
        *pid = static_cast<uint32_t>(child);
    }
    return true;
}

namespace {

// A Windows executable starts with the DOS header's "MZ".
bool HasWindowsHeader(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char magic[2] = {};
    const bool windows = read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    close(fd);
    return windows;
}

}  // namespace

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string::npos) {
        return "";
    }
    const std::string dirs = path;
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        const std::string candidate = dir.empty() ? name : JoinPath(dir, name);
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            return "";
        }
        start = end + 1;
    }
}

bool StartProgram(const std::string& program, const std::vector<std::string>& args, uint32_t* pid,
                  const EnvironmentOverrides& env) {
    if (!EndsWithExe(program) || !HasWindowsHeader(program)) {
        return StartProcess(program, args, pid, env);
    }
    const std::string wine = FindOnPath("wine");
    if (wine.empty()) {
        SetLastError(ERROR_BAD_EXE_FORMAT_CODE);
        return false;
    }
    std::vector<std::string> wineArgs;
    wineArgs.reserve(args.size() + 1);
    wineArgs.push_back(program);
    wineArgs.insert(wineArgs.end(), args.begin(), args.end());
    return StartProcess(wine, wineArgs, pid, env);
}

bool WaitForProcess(uint32_t pid, uint32_t timeoutMs, int* exitCode) {
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (r < 0 && errno != EINTR) {
            SetLastErrorFromErrno();
            return false;
        }
        if (r > 0) {
            if (exitCode != nullptr) {
                *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return true;
        }
        if (timeoutMs != INFINITE_WAIT && std::chrono::steady_clock::now() >= deadline) {
            SetLastError(WAIT_TIMEOUT_CODE);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string QuoteCommandLineArg(const std::string& s) {
    if (!s.empty() && s.find_first_of(" \t\"") == std::string::npos) {
        return s;
    }
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : s) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == '\\') {
            // Backslashes are literal unless a quote follows: then each pair
            // gives one backslash and an odd one escapes the quote.
            size_t n = 0;
            while (i < line.size() && line[i] == '\\') {
                ++n;
                ++i;
            }
            inWord = true;
            if (i < line.size() && line[i] == '"') {
                word.append(n / 2, '\\');
                if (n % 2 == 1) {
                    word.push_back('"');
                    ++i;
                }
            } else {
                word.append(n, '\\');
            }
            continue;
        }
        if (c == '"') {
            inWord = true;
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                word.push_back('"');  // "" inside quotes is one quote
                i += 2;
                continue;
            }
            quoted = !quoted;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word.push_back(c);
            inWord = true;
        }
        ++i;
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, bool& alreadyExists) {
    alreadyExists = false;
    std::string path = JoinPath(GetPrivateTempDir(), SafeLockName(name) + ".lock");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    std::unique_ptr<NamedMutex> mutex(new NamedMutex());
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        close(fd);
        if (err != EWOULDBLOCK) {
            SetLastErrorFromErrno(err);
            return nullptr;
        }
        alreadyExists = true;
        SetLastError(ERROR_ALREADY_EXISTS_CODE);
        return mutex;
    }
    mutex->m_fd = fd;
    SetLastError(ERROR_SUCCESS_CODE);
    return mutex;
}

NamedMutex::~NamedMutex() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

}  // namespace plat

// Processes: the running list, termination, starting a program, this
// process's environment, and the named single-instance lock.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Win32Types.h"

namespace plat {

struct ProcessEntry {
    uint32_t pid;
    // Executable file name as the user sees it: for a program running under
    // a compatibility layer ("wine Varngame.exe") the .exe's own name.
    std::string exeName;
    // Directory of the program file the process runs (for a program under a
    // compatibility layer, the layer's); "" when it cannot be read (another
    // user's process).
    std::string exeDir;
};

uint32_t GetCurrentProcessId();
// The value of an environment variable of this process, "" when it is not
// set. Read-only: the platform layer never changes the environment.
std::string GetEnvironmentVariable(const std::string& name);
// Snapshot of the running processes of this user and others visible.
std::vector<ProcessEntry> ListProcesses();
// Ends a process (SIGKILL); false with the last error on failure.
bool TerminateProcess(uint32_t pid);
// Variables the started program gets in place of (or besides) this
// process's own: name, value.
using EnvironmentOverrides = std::vector<std::pair<std::string, std::string>>;
// Starts program with the given arguments (not through a shell), new
// process group, no inherited descriptors beyond stdio, and this process's
// environment with env applied. False (last error set) when the program
// cannot be started.
bool StartProcess(const std::string& program, const std::vector<std::string>& args,
                  uint32_t* pid = nullptr, const EnvironmentOverrides& env = {});
// Replaces this process's program with program (argv[1..] = args), the
// way a launcher hands over to its successor: the process id, process
// group, terminal and environment stay, so whoever waits for this process
// gets the successor's exit status. Standard output and error are flushed
// first; every other descriptor is closed by the exec and the calling
// thread's signal mask is cleared. Returns only on failure (false, last
// error set); the process then goes on as before.
bool ExecProgram(const std::string& program, const std::vector<std::string>& args);
// True when path names a regular file (links followed) this process may
// execute.
bool IsExecutableFile(const std::string& path);
// StartProcess for a program that may be a Windows one: a name ending in
// ".exe" whose file begins with the "MZ" header is started through Wine
// (the first "wine" on the PATH) with its path as Wine's first argument;
// anything else is started as it is. False with last error 193
// (ERROR_BAD_EXE_FORMAT_CODE) when the program needs Wine and there is none.
bool StartProgram(const std::string& program, const std::vector<std::string>& args,
                  uint32_t* pid = nullptr, const EnvironmentOverrides& env = {});
// The first executable regular file called name in the PATH's directories
// (an empty entry is the current directory); "" when there is none.
std::string FindOnPath(const std::string& name);
// Reaps a child started by StartProcess: true with its exit code (128 +
// signal when killed) once it has ended; false after timeoutMs (last error
// 258) or when pid is not our child. A child never waited for stays a
// zombie until this process ends.
bool WaitForProcess(uint32_t pid, uint32_t timeoutMs, int* exitCode = nullptr);
// Splits a Win32-style command line into words (blanks separate, double
// quotes group, and backslashes are literal except before a double quote,
// where 2n+1 of them give n and a literal quote).
std::vector<std::string> SplitCommandLine(const std::string& line);
// Quotes one argument so that SplitCommandLine gives it back unchanged:
// left as is unless empty or holding a blank, tab or double quote.
std::string QuoteCommandLineArg(const std::string& arg);

// A lock that other processes see, released when the process dies: flock
// on a file named after the lock in the private temporary directory.
class NamedMutex {
public:
    // Tries to take the lock. alreadyExists is true when another process
    // (or another NamedMutex of this process) holds it; the returned object
    // then owns nothing. Returns nullptr on a system failure (last error).
    static std::unique_ptr<NamedMutex> Create(const std::string& name, bool& alreadyExists);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    bool Owned() const { return m_fd >= 0; }

private:
    NamedMutex() = default;
    int m_fd = -1;
};

}  // namespace plat

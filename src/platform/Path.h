// Paths of the running program and the directories the launcher works in.
// Local paths use "/". Names inside data formats (file lists, clientlist)
// keep "\" and become local only through JoinDataPath.
#pragma once
#include <string>

namespace plat {

// Full path of the running executable (/proc/self/exe).
std::string GetModulePath();
// Directory of the running executable, without a trailing "/".
std::string GetModuleDir();
// File name part of the running executable ("varn-patch").
std::string GetModuleFileName();
// The process's full command line as one string: the full program path
// first, then the arguments, joined by one blank. An argument that is empty
// or holds a blank or quote is quoted so that SplitCommandLine (Process.h)
// gives it back unchanged.
std::string GetCommandLine();
// The arguments after the program path, each preceded by one blank and
// quoted as above (the Win32 command line after the program path).
std::string GetCommandLineArgs();

std::string GetCurrentDir();
// Returns false (last error set) when the directory cannot be entered.
bool SetCurrentDir(const std::string& dir);

// The per-user private temporary directory, created with mode 0700 when
// missing: $TMPDIR/varn-<uid> when $TMPDIR is set (tests and operators
// redirect it so), else $XDG_RUNTIME_DIR/varn when set and usable, else
// /tmp/varn-<uid>. Chosen once per process. An existing directory that is not owned by
// the user or is writable by others is refused and a fresh private one
// (mkdtemp) is used instead. Never ends with "/".
std::string GetPrivateTempDir();

// The user's home directory: $HOME, else the user database's entry; ""
// when neither names one.
std::string GetHomeDir();
// The user's desktop directory: $XDG_DESKTOP_DIR when set, else the
// XDG_DESKTOP_DIR entry of user-dirs.dirs in the configuration directory
// ($XDG_CONFIG_HOME or ~/.config), else ~/Desktop. Only absolute paths are
// taken from either; "" when there is no home to go by. The directory need
// not exist.
std::string GetUserDesktopDir();

// "a/b" of a directory and a local name; no doubled separator.
std::string JoinPath(const std::string& dir, const std::string& name);
// Joins a name taken from a data format ("Data\\Map\\a.bin") onto a local
// directory, turning "\" into "/".
std::string JoinDataPath(const std::string& dir, const std::string& dataName);
// True when a data-format name is relative and stays inside its directory:
// not empty, no leading "/" or "\", no drive letter ("C:"), no ".." part.
bool IsSafeRelativeName(const std::string& dataName);
// Directory part (before the last "/" or "\"), "" when there is none.
std::string DirName(const std::string& path);
// Last component (after the last "/" or "\").
std::string BaseName(const std::string& path);

}  // namespace plat

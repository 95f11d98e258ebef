// The launcher's first-run work: the game's key in the registry store and
// the removal of the old installer's desktop shortcut.
#pragma once
#include <string>

// The per-user key the portal reads (kept in the registry store,
// platform/Registry.h).
constexpr const char* kGameRegistryKey = "Software\\Pellor\\Quorim\\varnonline";
// The old installer's desktop shortcut.
constexpr const char* kOldDesktopShortcut = "Varn.url";

struct GameRegistration {
    std::string location;  // the game directory (the launcher's own)
    std::string shortcut;  // path of the installed .desktop file
};

// Creates the game's key with "location", "shortcut", "PostDLVersion" "0",
// "UseCleanTool" "TRUE" and "Version" "2", unless the key exists: an
// existing key is never rewritten. True when the key was created; write
// failures are not reported (the launcher works without the key).
bool RegisterGame(const GameRegistration& registration);

// Deletes desktopDir/Varn.url when it is the old installer's shortcut: a
// regular file (not a link) of at most 4 KiB whose [InternetShortcut] URL
// points at the host of homePage. Anything else of that name is the
// user's and stays. True when a file was deleted.
bool RemoveOldDesktopShortcut(const std::string& desktopDir, const std::string& homePage);

struct StartupHousekeeping {
    bool copyHandOff = false;      // "-copy" was given: nothing registered
    bool registered = false;       // the key was created now
    bool shortcutRemoved = false;  // the old desktop shortcut was deleted
};
// The start-up's housekeeping in order: the desktop clean-up, then the
// registration unless commandLine (plat::GetCommandLine()) holds "-copy".
StartupHousekeeping DoStartupHousekeeping(const std::string& commandLine,
                                          const GameRegistration& registration,
                                          const std::string& desktopDir,
                                          const std::string& homePage);

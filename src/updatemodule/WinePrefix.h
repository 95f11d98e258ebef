// Where the game's DirectX libraries are on this system: the game is a
// Windows program and runs through Wine, so its "system directory" is one
// of the Wine prefix's (drive_c/windows/system32, or syswow64 for a 32-bit
// game in a 64-bit prefix).
//
// Any thread; reads the environment and the file system only.
#pragma once
#include <string>

// The key of the launcher type file that names the game's Wine prefix: an
// absolute path, or one relative to the game directory (a game directory
// that carries its own prefix).
constexpr const char* kWinePrefixSection = "SETUP";
constexpr const char* kWinePrefixKey = "WINEPREFIX";

// The prefix the game runs in: configured (relative to gameDir) when set,
// else $WINEPREFIX, else ~/.wine; "" when none can be named (no home).
std::string ChooseWinePrefix(const std::string& configured, const std::string& gameDir);

struct DxSearchPlace {
    std::string prefix;     // the chosen prefix ("" when there is none)
    std::string directory;  // the system directory to read ("" when none)
    // The prefix has not been set up yet (no drive_c): Wine sets it up,
    // with its own DirectX, when the game first starts.
    bool prefixPending = false;
};
// The system directory of prefix for the game program gameExe. A prefix
// with syswow64 is a 64-bit one; the game is taken for 32-bit unless its
// image says it is 64-bit (a game that cannot be read is the 32-bit
// program it has always been).
DxSearchPlace LocateDxSearchPlace(const std::string& prefix, const std::string& gameExe);

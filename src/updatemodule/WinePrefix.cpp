// The Wine prefix of the game and its system directory.
#include "updatemodule/WinePrefix.h"

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "updatemodule/DxVersion.h"

std::string ChooseWinePrefix(const std::string& configured, const std::string& gameDir) {
    if (!configured.empty()) {
        return configured.front() == '/' ? configured : plat::JoinPath(gameDir, configured);
    }
    const std::string fromEnvironment = plat::GetEnvironmentVariable("WINEPREFIX");
    if (!fromEnvironment.empty()) {
        return fromEnvironment;
    }
    const std::string home = plat::GetHomeDir();
    return home.empty() ? std::string() : plat::JoinPath(home, ".wine");
}

DxSearchPlace LocateDxSearchPlace(const std::string& prefix, const std::string& gameExe) {
    DxSearchPlace place;
    place.prefix = prefix;
    if (prefix.empty()) {
        return place;
    }
    const std::string driveC = plat::JoinPath(prefix, "drive_c");
    if (!plat::IsDirectory(driveC)) {
        place.prefixPending = true;
        return place;
    }
    const std::string windows = plat::JoinPath(driveC, "windows");
    const std::string wow64 = plat::JoinPath(windows, "syswow64");
    const bool game32 = !ReadPeFileFacts(gameExe).is64;
    place.directory =
        game32 && plat::IsDirectory(wow64) ? wow64 : plat::JoinPath(windows, "system32");
    return place;
}

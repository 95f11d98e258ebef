#include "host/FirstRun.h"

#include <cstdint>

#include "host/LauncherRules.h"
#include "host/VersionIni.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

namespace {

// An internet shortcut is a few lines; anything larger is not one of ours.
constexpr uint64_t kMaxShortcutSize = 4096;

bool IsOurShortcut(const std::string& path, const std::string& homePage) {
    uint64_t size = 0;
    std::string text;
    if (!plat::IsRegularFile(path) || !plat::GetFileSize(path, size) || size > kMaxShortcutSize ||
        !plat::ReadWholeFile(path, text)) {
        return false;
    }
    const plat::ProfileText shortcut(text);
    const std::string* url = shortcut.Find("InternetShortcut", "URL");
    const std::string host = UrlHost(homePage);
    return url != nullptr && !host.empty() && UrlHost(*url) == host;
}

}  // namespace

bool RegisterGame(const GameRegistration& registration) {
    if (plat::RegistryKeyExists(kGameRegistryKey) || !plat::RegistryCreateKey(kGameRegistryKey)) {
        return false;
    }
    const std::pair<const char*, std::string> values[] = {
        {"location", registration.location},
        {"shortcut", registration.shortcut},
        {"PostDLVersion", "0"},
        {"UseCleanTool", "TRUE"},
        {"Version", "2"},
    };
    for (const auto& [name, value] : values) {
        plat::RegistryWriteString(kGameRegistryKey, name, value);
    }
    return true;
}

bool RemoveOldDesktopShortcut(const std::string& desktopDir, const std::string& homePage) {
    if (desktopDir.empty()) {
        return false;
    }
    const std::string path = plat::JoinPath(desktopDir, kOldDesktopShortcut);
    return IsOurShortcut(path, homePage) && plat::DeleteFile(path);
}

StartupHousekeeping DoStartupHousekeeping(const std::string& commandLine,
                                          const GameRegistration& registration,
                                          const std::string& desktopDir,
                                          const std::string& homePage) {
    StartupHousekeeping done;
    done.shortcutRemoved = RemoveOldDesktopShortcut(desktopDir, homePage);
    done.copyHandOff = HasCopyOption(commandLine);
    if (!done.copyHandOff) {
        done.registered = RegisterGame(registration);
    }
    return done;
}

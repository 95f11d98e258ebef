// The registry store kept as one profile file per key.
#include "platform/Registry.h"

#include <cctype>
#include <cstdlib>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "platform/Win32Types.h"

namespace plat {
namespace {

const char kSection[] = "values";

std::string RegistryRoot() {
    const char* dir = std::getenv("VARN_REGISTRY_DIR");
    if (dir && *dir) {
        return dir;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = JoinPath(home && *home ? home : ".", ".config");
    }
    return JoinPath(JoinPath(base, "varn"), "registry");
}

// Key names match without regard to case, as registry keys do, so the file
// name is the lower-cased path; a path that could leave the store's
// directory is refused.
bool KeyFile(const std::string& keyPath, std::string& file) {
    std::string key = keyPath;
    while (!key.empty() && key.back() == '\\') {
        key.pop_back();
    }
    if (!IsSafeRelativeName(key)) {
        SetLastError(ERROR_INVALID_NAME_CODE);
        return false;
    }
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    file = JoinDataPath(RegistryRoot(), key + ".ini");
    return true;
}

}  // namespace

bool RegistryKeyExists(const std::string& keyPath) {
    std::string file;
    return KeyFile(keyPath, file) && FileExists(file) && !IsDirectory(file);
}

bool RegistryCreateKey(const std::string& keyPath) {
    std::string file;
    if (!KeyFile(keyPath, file) || !CreateDirectoryChain(DirName(file))) {
        return false;
    }
    if (FileExists(file)) {
        return true;
    }
    std::string text = std::string("[") + kSection + "]\n";
    return WriteWholeFile(file, text.data(), text.size());
}

bool RegistryReadString(const std::string& keyPath, const std::string& name, std::string& value) {
    std::string file, text;
    if (!KeyFile(keyPath, file)) {
        return false;
    }
    if (!ReadWholeFile(file, text)) {
        SetLastError(ERROR_FILE_NOT_FOUND_CODE);
        return false;
    }
    const ProfileText profile(text);
    const std::string* found = profile.Find(kSection, name);
    if (found == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND_CODE);
        return false;
    }
    value = *found;
    return true;
}

bool RegistryWriteString(const std::string& keyPath, const std::string& name,
                         const std::string& value) {
    std::string file;
    if (!RegistryCreateKey(keyPath) || !KeyFile(keyPath, file)) {
        return false;
    }
    return WritePrivateProfileString(kSection, name.c_str(), value.c_str(), file.c_str());
}

}  // namespace plat

// The registry store: HKEY_CURRENT_USER-style keys kept as profile files
// under the user's configuration directory ($XDG_CONFIG_HOME or
// ~/.config)/varn/registry/<key path with "\" as "/">.ini, section
// [values]. Overridable with $VARN_REGISTRY_DIR for tests and operators.
#pragma once
#include <string>

namespace plat {

bool RegistryKeyExists(const std::string& keyPath);
// Creates the key when missing.
bool RegistryCreateKey(const std::string& keyPath);
// False with last error 2 when the key or value is missing.
bool RegistryReadString(const std::string& keyPath, const std::string& name, std::string& value);
bool RegistryWriteString(const std::string& keyPath, const std::string& name,
                         const std::string& value);

}  // namespace plat

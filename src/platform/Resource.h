// The language resource bundle: an INI text (UTF-8) a translator can edit,
// e.g. Resource_Jpn.ini beside the executable:
//   [Strings]
//   3000=...           ; "\n", "\t" and "\\" are unescaped
//   [Bitmaps]
//   130=bitmaps/main.png   ; relative to the bundle's directory
// Lookups fall back to the base-language table compiled into the core.
#pragma once
#include <memory>
#include <string>

namespace plat {

class ResourceBundle {
public:
    // Loads a bundle file; nullptr (last error set) when it cannot be read.
    static std::unique_ptr<ResourceBundle> Load(const std::string& path);
    // The built-in base-language table (never null, lives for the process).
    static const ResourceBundle* Base();
    // A bundle from INI text held in memory.
    static std::unique_ptr<ResourceBundle> FromText(const std::string& text,
                                                    const std::string& dir = "");
    ~ResourceBundle();

    // Copies the string into buf (cut to size-1, zero-terminated) and returns
    // its length; 0 with buf "" when the id is in neither this bundle nor the
    // base table.
    int LoadString(unsigned id, char* buf, int size) const;
    // Path of the bitmap file for an id (the base table's when this bundle
    // lacks it), "" when unknown or when the name would leave the bundle's
    // directory.
    std::string BitmapPath(unsigned id) const;

private:
    ResourceBundle();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// What the core calls a module handle (HINSTANCE): a bundle or nullptr,
// in which case lookups use the base table alone.
using ResourceHandle = const ResourceBundle*;

// LoadString on a handle that may be null.
int LoadResourceString(ResourceHandle h, unsigned id, char* buf, int size);

}  // namespace plat

// The language resource bundle and the built-in base-language table.
#include "platform/Resource.h"

#include <cstring>
#include <string>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"

namespace varn_resources {
extern const char* const kBaseStrings;
}  // namespace varn_resources

namespace plat {
namespace {

// Translators write line breaks and tabs as escapes so that a text stays
// on one INI line; other backslashes (paths in texts) are kept.
std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out.push_back(s[i]);
            continue;
        }
        char next = s[i + 1];
        if (next == 'n') {
            out.push_back('\n');
        } else if (next == 't') {
            out.push_back('\t');
        } else if (next == '\\') {
            out.push_back('\\');
        } else {
            out.push_back('\\');
            continue;
        }
        ++i;
    }
    return out;
}

int CopyOut(const std::string& s, char* buf, int size) {
    if (buf == nullptr || size <= 0) {
        return 0;
    }
    size_t n = s.size() < static_cast<size_t>(size - 1) ? s.size() : static_cast<size_t>(size - 1);
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace

struct ResourceBundle::Impl {
    Impl(const std::string& text, const std::string& d) : profile(text), dir(d) {}
    ProfileText profile;
    std::string dir;
};

ResourceBundle::ResourceBundle() = default;
ResourceBundle::~ResourceBundle() = default;

std::unique_ptr<ResourceBundle> ResourceBundle::Load(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        return nullptr;
    }
    return FromText(text, DirName(path));
}

const ResourceBundle* ResourceBundle::Base() {
    static const std::unique_ptr<ResourceBundle> base =
        FromText(varn_resources::kBaseStrings ? varn_resources::kBaseStrings : "", GetModuleDir());
    return base.get();
}

std::unique_ptr<ResourceBundle> ResourceBundle::FromText(const std::string& text,
                                                         const std::string& dir) {
    std::unique_ptr<ResourceBundle> bundle(new ResourceBundle());
    bundle->m_impl = std::make_unique<Impl>(text, dir);
    return bundle;
}

int ResourceBundle::LoadString(unsigned id, char* buf, int size) const {
    const std::string key = std::to_string(id);
    const std::string* text = m_impl->profile.Find("Strings", key);
    const ResourceBundle* base = Base();
    if (text == nullptr && base != this) {
        text = base->m_impl->profile.Find("Strings", key);
    }
    return CopyOut(text ? Unescape(*text) : std::string(), buf, size);
}

std::string ResourceBundle::BitmapPath(unsigned id) const {
    const std::string key = std::to_string(id);
    const ResourceBundle* owner = this;
    const std::string* rel = m_impl->profile.Find("Bitmaps", key);
    if (rel == nullptr && Base() != this) {
        owner = Base();
        rel = owner->m_impl->profile.Find("Bitmaps", key);
    }
    // A bundle names files beside itself only; a path leaving that
    // directory is treated as unknown.
    if (rel == nullptr || !IsSafeRelativeName(*rel)) {
        return "";
    }
    return JoinDataPath(owner->m_impl->dir, *rel);
}

int LoadResourceString(ResourceHandle h, unsigned id, char* buf, int size) {
    return (h ? h : ResourceBundle::Base())->LoadString(id, buf, size);
}

}  // namespace plat

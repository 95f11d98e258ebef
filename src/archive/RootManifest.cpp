#include "archive/RootManifest.h"

#include <charconv>

#include "archive/Sha256.h"

namespace {

constexpr const char* kMagic = "VARNMANIFEST 1";
// Names longer than a file list's name field could not be applied anyway.
constexpr size_t kMaxName = 259;

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

bool ReadNumber(const std::string& text, uint64_t* out) {
    if (text.empty() || text.size() > 20)
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ReadArchive(const std::vector<std::string>& f, ManifestArchive* a) {
    if (f.size() != 4 || !CRootManifest::IsSafeName(f[1]))
        return false;
    a->name = f[1];
    a->sha256 = f[3];
    return ReadNumber(f[2], &a->size) && CSha256::IsHex(f[3]);
}

bool ReadFile(const std::vector<std::string>& f, ManifestFile* m) {
    uint64_t type = 0;
    if (f.size() != 5 || !ReadNumber(f[1], &type) || type > 1 || !CRootManifest::IsSafeName(f[4]))
        return false;
    m->type = static_cast<int>(type);
    m->sha256 = f[3];
    m->name = f[4];
    return ReadNumber(f[2], &m->size) && CSha256::IsHex(f[3]);
}

bool IsPackPath(const std::string& pack) {
    return pack.size() > 4 && pack.compare(pack.size() - 4, 4, ".lpk") == 0;
}

bool ReadPack(const std::vector<std::string>& f, ManifestFile* m) {
    if (f.size() != 5 || !CRootManifest::IsSafeName(f[3]) || !IsPackPath(f[3]) ||
        !CRootManifest::IsSafeName(f[4]) || f[3].size() + 1 + f[4].size() > kMaxName)
        return false;
    m->type = 3;
    m->sha256 = f[2];
    m->pack = f[3];
    m->name = f[4];
    return ReadNumber(f[1], &m->size) && CSha256::IsHex(f[2]);
}

}  // namespace

bool CRootManifest::IsSafeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxName)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t sep = name.find('\\', start);
        const std::string part = name.substr(start, sep == std::string::npos ? sep : sep - start);
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of(std::string("/:\0", 3)) != std::string::npos)
            return false;
        if (sep == std::string::npos)
            return true;
        start = sep + 1;
    }
}

bool CRootManifest::Parse(const std::string& text) {
    *this = CRootManifest();
    bool first = true;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            if (line != kMagic)
                return false;
            first = false;
            continue;
        }
        const std::vector<std::string> f = SplitTabs(line);
        bool ok = true;
        if (f[0] == "VERSION") {
            ok = f.size() == 2 && !f[1].empty() && f[1].size() < 20;
            version = ok ? f[1] : "";
        } else if (f[0] == "FULL") {
            ok = f.size() == 2 && IsSafeName(f[1]) && f[1].find('\\') == std::string::npos;
            fullArchive = ok ? f[1] : "";
        } else if (f[0] == "ARCHIVE") {
            ManifestArchive a;
            ok = ReadArchive(f, &a);
            archives.push_back(a);
        } else if (f[0] == "FILE" || f[0] == "PACK") {
            ManifestFile m;
            ok = f[0] == "FILE" ? ReadFile(f, &m) : ReadPack(f, &m);
            files.push_back(m);
        }
        if (!ok) {
            *this = CRootManifest();
            return false;
        }
    }
    if (first)
        return false;
    return true;
}

std::string CRootManifest::Format() const {
    std::string out = std::string(kMagic) + "\n";
    if (!version.empty())
        out += "VERSION\t" + version + "\n";
    if (!fullArchive.empty())
        out += "FULL\t" + fullArchive + "\n";
    for (const ManifestArchive& a : archives)
        out += "ARCHIVE\t" + a.name + "\t" + std::to_string(a.size) + "\t" + a.sha256 + "\n";
    for (const ManifestFile& m : files) {
        if (m.pack.empty())
            out += "FILE\t" + std::to_string(m.type) + "\t" + std::to_string(m.size) + "\t" +
                   m.sha256 + "\t" + m.name + "\n";
        else
            out += "PACK\t" + std::to_string(m.size) + "\t" + m.sha256 + "\t" + m.pack + "\t" +
                   m.name + "\n";
    }
    return out;
}

const ManifestArchive* CRootManifest::FindArchive(const std::string& name) const {
    for (const ManifestArchive& a : archives)
        if (a.name == name)
            return &a;
    return nullptr;
}

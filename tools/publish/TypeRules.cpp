#include "TypeRules.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/VersionFileLayout.h"

void CTypeRules::LoadManifest(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read manifest " + path);
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::istringstream ls(line);
        std::string typeText, name;
        if (!(ls >> typeText) || typeText[0] == '#') {
            continue;
        }
        std::getline(ls >> std::ws, name);
        bool typeOk = typeText.size() == 1 && typeText[0] >= '0' && typeText[0] <= '3';
        if (!typeOk || name.empty()) {
            throw std::runtime_error(path + ":" + std::to_string(lineNo) +
                                     ": expected \"<type 0-3> <name>\"");
        }
        std::replace(name.begin(), name.end(), '\\', '/');
        m_manifest[name] = static_cast<uint8_t>(typeText[0] - '0');
    }
}

uint8_t CTypeRules::TypeOf(const std::string& name) const {
    auto it = m_manifest.find(name);
    if (it != m_manifest.end()) {
        return it->second;
    }
    size_t slash = name.rfind('/');
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    for (const std::string& g : m_globs) {
        const std::string& subject = g.find('/') == std::string::npos ? last : name;
        if (GlobMatch(g.c_str(), subject.c_str())) {
            return uvf::UPDATE_TYPE_CONFIG;
        }
    }
    return uvf::UPDATE_TYPE_NORMAL;
}

bool CTypeRules::GlobMatch(const char* p, const char* t) {
    // Iterative matcher with one backtrack point: linear in practice and no
    // recursion depth to exhaust on hostile patterns.
    const char* starP = nullptr;
    const char* starT = nullptr;
    while (*t) {
        if (*p == '*') {
            starP = p++;
            starT = t;
        } else if (*p != '\0' && *t != '/' && (*p == '?' || *p == *t)) {
            ++p;
            ++t;
        } else if (*p == '/' && *t == '/') {
            ++p;
            ++t;
        } else if (starP && *starT != '/') {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (*p == '*') {
        ++p;
    }
    return *p == '\0';
}

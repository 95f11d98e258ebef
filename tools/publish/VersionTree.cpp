#include "VersionTree.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "FileDigest.h"

namespace fs = std::filesystem;

CVersionTree::CVersionTree(const std::string& dir) : m_dir(dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        throw std::runtime_error("not a directory: " + dir);
    }
    fs::recursive_directory_iterator it(dir, ec), end;
    if (ec) {
        throw std::runtime_error("cannot list " + dir + ": " + ec.message());
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            throw std::runtime_error("cannot list " + dir + ": " + ec.message());
        }
        const fs::directory_entry& e = *it;
        std::string rel = fs::relative(e.path(), dir).generic_string();
        // A link could pull content from outside the version into a patch.
        if (e.is_symlink()) {
            throw std::runtime_error("symbolic link not published: " + e.path().string());
        }
        if (e.is_directory()) {
            continue;
        }
        if (!e.is_regular_file()) {
            throw std::runtime_error("not a regular file: " + e.path().string());
        }
        if (!IsPublishableName(rel)) {
            throw std::runtime_error("unsafe file name: " + rel);
        }
        m_files.push_back({rel, static_cast<uint64_t>(e.file_size())});
    }
    std::sort(m_files.begin(), m_files.end(),
              [](const TreeFile& a, const TreeFile& b) { return a.name < b.name; });
}

const TreeFile* CVersionTree::Find(const std::string& name) const {
    auto it = std::lower_bound(m_files.begin(), m_files.end(), name,
                               [](const TreeFile& f, const std::string& n) { return f.name < n; });
    return it != m_files.end() && it->name == name ? &*it : nullptr;
}

std::string CVersionTree::LocalPath(const std::string& name) const {
    return (fs::path(m_dir) / name).string();
}

const std::string& CVersionTree::Hash(const std::string& name) const {
    auto it = m_hashes.find(name);
    if (it == m_hashes.end()) {
        it = m_hashes.emplace(name, CFileDigest::HashFile(LocalPath(name))).first;
    }
    return it->second;
}

bool CVersionTree::IsPublishableName(const std::string& name) {
    if (name.empty() || name.size() >= 260 || name.front() == '/') {
        return false;
    }
    if (name.find('\\') != std::string::npos || name.find(':') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash == std::string::npos ? slash : slash - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    return true;
}

bool CVersionTree::SameContent(const std::string& pathA, const std::string& pathB) {
    using File = std::unique_ptr<FILE, int (*)(FILE*)>;
    File a(std::fopen(pathA.c_str(), "rb"), &std::fclose);
    File b(std::fopen(pathB.c_str(), "rb"), &std::fclose);
    if (!a || !b) {
        throw std::runtime_error("cannot read " + (a ? pathB : pathA));
    }
    std::vector<char> bufA(1 << 16), bufB(1 << 16);
    for (;;) {
        size_t na = std::fread(bufA.data(), 1, bufA.size(), a.get());
        size_t nb = std::fread(bufB.data(), 1, bufB.size(), b.get());
        if (std::ferror(a.get()) || std::ferror(b.get())) {
            throw std::runtime_error("read error comparing " + pathA + " and " + pathB);
        }
        if (na != nb || !std::equal(bufA.begin(), bufA.begin() + na, bufB.begin())) {
            return false;
        }
        if (na == 0) {
            return true;
        }
    }
}

std::string CVersionTree::ToDataName(const std::string& name) {
    std::string out = name;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

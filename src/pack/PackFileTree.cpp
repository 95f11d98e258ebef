#include "pack/PackFileTree.h"

#include <cstring>

#include "pack/PackFile.h"

namespace {

// Fixed part of a present node: name length, stamp, attributes, size,
// offset, extra length.
constexpr size_t kNodeFixedBytes = 4 + 8 + 4 + 8 + 8 + 4;

void Scramble(std::string& s) {
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = char(uint8_t(s[i]) ^ uint8_t(kPackKey[i % 24]));
}

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    bool U32(uint32_t& v) { return Bytes(&v, 4); }
    bool U64(uint64_t& v) { return Bytes(&v, 8); }
    bool Str(std::string& s, size_t len) {
        if (len > m_n - m_pos)
            return false;
        s.assign(reinterpret_cast<const char*>(m_p + m_pos), len);
        m_pos += len;
        return true;
    }
    bool AtEnd() const { return m_pos == m_n; }

private:
    bool Bytes(void* v, size_t len) {
        if (len > m_n - m_pos)
            return false;
        std::memcpy(v, m_p + m_pos, len);  // the format and the host are little-endian
        m_pos += len;
        return true;
    }
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
};

template <class T>
void Put(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace

CPackFileTree::CPackFileTree() {
    m_pRoot = NewNode();
    m_pRoot->attributes = kPackDirectoryAttribute;
}

PackNode* CPackFileTree::NewNode() {
    return &m_Nodes.emplace_back();
}

std::string CPackFileTree::Lower(std::string_view name) {
    std::string s(name);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return s;
}

std::vector<std::string_view> CPackFileTree::Split(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

void CPackFileTree::IndexChild(PackNode* parent, PackNode* child) {
    if (!parent->index.emplace(Lower(child->name), child).second)
        m_bHasDuplicates = true;
}

void CPackFileTree::AppendChild(PackNode* parent, PackNode*& lastChild, PackNode* child) {
    child->parent = parent;
    child->prev = lastChild;
    if (lastChild) {
        lastChild->next = child;
    } else {
        parent->firstChild = child;
    }
    lastChild = child;
    IndexChild(parent, child);
}

bool CPackFileTree::Parse(const uint8_t* data, size_t size) {
    m_Nodes.clear();
    m_bHasDuplicates = false;
    m_pRoot = nullptr;
    Reader in(data, size);
    // A pending slot: the next node read becomes a child of parent, behind
    // last (the previous sibling read), or the root when parent is null.
    struct Slot {
        PackNode* parent;
        PackNode* last;
    };
    std::vector<Slot> stack{{nullptr, nullptr}};
    while (!stack.empty()) {
        Slot slot = stack.back();
        stack.pop_back();
        uint32_t nameLen;
        if (!in.U32(nameLen))
            return false;
        if (nameLen == kAbsent)
            continue;
        if (nameLen > kMaxNameLength)
            return false;
        PackNode* n = NewNode();
        uint32_t extraLen;
        if (!in.Str(n->name, nameLen) || !in.U64(n->stamp) || !in.U32(n->attributes) ||
            !in.U64(n->size) || !in.U64(n->offset) || !in.U32(extraLen) ||
            !in.Str(n->extra, extraLen)) {
            return false;
        }
        Scramble(n->name);
        if (slot.parent) {
            if (!slot.parent->IsDirectory())
                return false;
            AppendChild(slot.parent, slot.last, n);
        } else if (m_pRoot) {
            return false;  // a sibling of the root has no place in the tree
        } else {
            m_pRoot = n;
        }
        // The sibling chain continues after the whole child subtree.
        stack.push_back({slot.parent, slot.parent ? n : m_pRoot});
        stack.push_back({n, nullptr});
    }
    if (!in.AtEnd())
        return false;
    if (!m_pRoot) {  // an absent root is an empty tree
        m_pRoot = NewNode();
        m_pRoot->attributes = kPackDirectoryAttribute;
    }
    m_pRoot->attributes |= kPackDirectoryAttribute;
    return true;
}

void CPackFileTree::Serialize(std::string& out) const {
    out.clear();
    out.reserve(SerializedSize());
    std::vector<const PackNode*> stack{m_pRoot};
    std::string name;
    while (!stack.empty()) {
        const PackNode* n = stack.back();
        stack.pop_back();
        if (!n) {
            Put(out, kAbsent);
            continue;
        }
        name = n->name;
        Scramble(name);
        Put(out, uint32_t(name.size()));
        out += name;
        Put(out, n->stamp);
        Put(out, n->attributes);
        Put(out, n->size);
        Put(out, n->offset);
        Put(out, uint32_t(n->extra.size()));
        out += n->extra;
        stack.push_back(n->next);
        stack.push_back(n->firstChild);
    }
}

uint64_t CPackFileTree::SerializedSize() const {
    uint64_t total = kNodeFixedBytes + m_pRoot->name.size() + m_pRoot->extra.size() + 8;
    ForEachBelow(m_pRoot, [&](const PackNode* n) {
        // Every present node adds itself and, net, one absent link.
        total += kNodeFixedBytes + n->name.size() + n->extra.size() + 4;
    });
    return total;
}

PackNode* CPackFileTree::Find(std::string_view path) const {
    PackNode* n = m_pRoot;
    for (std::string_view part : Split(path)) {
        auto it = n->index.find(Lower(part));
        if (it == n->index.end())
            return nullptr;
        n = it->second;
    }
    return n;
}

PackNode* CPackFileTree::AddChild(PackNode* parent, std::string_view name, uint32_t attributes) {
    std::string key = Lower(name);
    if (parent->index.count(key))
        return nullptr;
    PackNode* n = NewNode();
    n->name = std::string(name);
    n->attributes = attributes;
    n->parent = parent;
    n->next = parent->firstChild;
    if (n->next)
        n->next->prev = n;
    parent->firstChild = n;
    parent->index.emplace(std::move(key), n);
    return n;
}

PackNode* CPackFileTree::MakeDirectories(std::string_view path) {
    PackNode* n = m_pRoot;
    for (std::string_view part : Split(path)) {
        auto it = n->index.find(Lower(part));
        if (it != n->index.end()) {
            n = it->second;
            if (!n->IsDirectory())
                return nullptr;
        } else {
            n = AddChild(n, part, kPackDirectoryAttribute);
        }
    }
    return n;
}

void CPackFileTree::Unlink(PackNode* node) {
    PackNode* parent = node->parent;
    if (!parent)
        return;
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        parent->firstChild = node->next;
    }
    if (node->next)
        node->next->prev = node->prev;
    std::string key = Lower(node->name);
    auto it = parent->index.find(key);
    if (it != parent->index.end() && it->second == node) {
        parent->index.erase(it);
        // Only packs written elsewhere can hold names equal but for case;
        // the next one in order takes the name over.
        if (m_bHasDuplicates) {
            for (PackNode* c = parent->firstChild; c; c = c->next) {
                if (Lower(c->name) == key) {
                    parent->index.emplace(key, c);
                    break;
                }
            }
        }
    }
    node->parent = node->prev = node->next = nullptr;
}

// CPackFileTree: the in-memory directory tree of a pack and its node-stream
// form. Children of a node form a doubly linked list in stream order (first
// child first) plus a hash index by lower-cased name, so that lookups,
// insertions and removals cost O(1) however many children a directory has.
// Parsing and serialising walk the tree with explicit stacks: a directory
// with 100 000 files is a sibling chain 100 000 deep.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr uint32_t kPackDirectoryAttribute = 2;

struct PackNode {
    std::string name;  // plain (unscrambled)
    uint64_t stamp = 0;
    uint32_t attributes = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
    std::string extra;
    PackNode* parent = nullptr;
    PackNode* firstChild = nullptr;
    PackNode* next = nullptr;
    PackNode* prev = nullptr;
    // Children by lower-cased name; the first in stream order wins.
    std::unordered_map<std::string, PackNode*> index;
    bool IsDirectory() const { return (attributes & kPackDirectoryAttribute) != 0; }
};

class CPackFileTree {
public:
    // Tree header magic ("DT01" in file order).
    static constexpr uint32_t kMagic = 0x31305444;
    static constexpr uint32_t kAbsent = 0xFFFFFFFFu;
    static constexpr uint32_t kMaxNameLength = 65535;

    CPackFileTree();  // an empty tree: a root directory without children

    // Parses a node stream (without the tree header). False when it is
    // malformed: truncated, trailing bytes, an absurd name length, a file
    // node with children, a root with siblings.
    bool Parse(const uint8_t* data, size_t size);
    // The node stream (without the tree header) and its length.
    void Serialize(std::string& out) const;
    uint64_t SerializedSize() const;

    PackNode* Root() { return m_pRoot; }
    const PackNode* Root() const { return m_pRoot; }
    // Looks a "\"-separated path up (empty components skipped); null when
    // missing. An empty path gives the root.
    PackNode* Find(std::string_view path) const;
    // Finds or creates the directory chain; null when a component names a
    // file.
    PackNode* MakeDirectories(std::string_view path);
    // Creates a node as the first child of parent; null when the name exists.
    PackNode* AddChild(PackNode* parent, std::string_view name, uint32_t attributes);
    // Unlinks a node (with its subtree) from its parent.
    void Unlink(PackNode* node);
    // Calls fn for every node below start (not start itself), iteratively.
    template <class Fn>
    void ForEachBelow(const PackNode* start, Fn fn) const;

    static std::string Lower(std::string_view name);
    // Splits "a\b\c" into components, skipping empty ones.
    static std::vector<std::string_view> Split(std::string_view path);

private:
    PackNode* NewNode();
    void IndexChild(PackNode* parent, PackNode* child);
    void AppendChild(PackNode* parent, PackNode*& lastChild, PackNode* child);

    std::deque<PackNode> m_Nodes;  // owns every node; addresses stay stable
    PackNode* m_pRoot = nullptr;
    bool m_bHasDuplicates = false;
};

template <class Fn>
void CPackFileTree::ForEachBelow(const PackNode* start, Fn fn) const {
    std::vector<const PackNode*> stack;
    if (start->firstChild)
        stack.push_back(start->firstChild);
    while (!stack.empty()) {
        const PackNode* n = stack.back();
        stack.pop_back();
        fn(n);
        if (n->next)
            stack.push_back(n->next);
        if (n->firstChild)
            stack.push_back(n->firstChild);
    }
}

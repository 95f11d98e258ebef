// Index over the two free-block tables: the unused entries in order (the
// first one takes the next freed block) and the usable blocks by size (best
// fit). The tables themselves stay the authority and are written on Close.
#pragma once
#include <cstdint>
#include <set>
#include <utility>

#include "pack/PackFile.h"

struct CPackFile::FreeIndex {
    std::set<uint32_t> unused;                       // size and offset both 0
    std::set<std::pair<uint64_t, uint32_t>> bySize;  // (size, entry), size > 0

    void Build(const uint64_t* sizes, const uint64_t* offsets) {
        unused.clear();
        bySize.clear();
        for (uint32_t i = 0; i < 5000; ++i) {
            if (sizes[i] == 0 && offsets[i] == 0) {
                unused.insert(i);
            } else if (sizes[i] != 0) {
                bySize.emplace(sizes[i], i);
            }
        }
    }
};

// Copies held unnamed by a pool thread until verify has read them back (heldcopies.cpp).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/transferengine.h"

namespace mivex::engine {

// A copy written and waiting to be read back; it owns what its ItemWay only refers to.
struct HeldCopy {
    Fd src, dst;
    std::string temp, name, dstName, srcPath;
    int srcDir, dstDir;
    Placement placement;
    CopiedItem* record;
    struct stat st;
    bool occupied;
};

struct HeldCopies {
    // Enough that one wait serves many files; few enough that descriptors and memory stay small.
    static constexpr std::size_t kMostFiles = 256;
    static constexpr std::uint64_t kMostBytes = 64u << 20;
    std::vector<HeldCopy> copies;
    std::uint64_t bytes = 0;
};

}  // namespace mivex::engine

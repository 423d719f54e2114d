#pragma once

#include <cstdint>

// What a recovery set can rebuild, in plain numbers, for a front end to word:
// how many whole parts may be lost, or how many slices damaged anywhere.
namespace tessera {

struct Par2Reach {
    // The parts that hold bytes (the set's files).
    std::uint32_t parts = 0;
    // Lost or damaged slices one repair rebuilds: the recovery slices, or
    // fewer where a repair's memory bound allows no more at once.
    std::uint64_t slices = 0;
    // Any this many whole parts may be lost together (0: not even the
    // largest one) ...
    std::uint32_t lostParts = 0;
    // ... and the largest of them holds this many bytes, in this many slices.
    std::int64_t largestPart = 0;
    std::uint64_t largestPartSlices = 0;
    // The least whole percentage that, at the same slices, rebuilds one lost
    // part; 0 when none from 1 to 100 does.
    unsigned onePartPercent = 0;
};

}  // namespace tessera

#pragma once

#include <vector>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// The four range tools. size is the source size (-1: no source, refused with
// NoSource); the other numbers are field numbers as ParseNumber gives them (a
// negative one is NotANumber). room is how many lines the split list can
// still take: a plan of more entries than that is refused whole
// (TooManyLines).

// (offset, offset + length); offset + length is taken exactly. BeyondEnd when
// it ends past size.
[[nodiscard]] Planned<SplitEntry> PlanExtract(std::int64_t size, std::int64_t offset, std::int64_t length);

// (start, end) with start <= end <= size: StartAfterEnd, BeyondEnd.
[[nodiscard]] Planned<SplitEntry> PlanRange(std::int64_t size, std::int64_t start, std::int64_t end);

// Consecutive pieces of piece bytes, the last one shorter. Zero for piece 0;
// an empty source gives no entries.
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanFixedSize(std::int64_t size, std::int64_t piece,
                                                             std::size_t room);

// The piece count typed into the equal-split field: the low 32 bits of the
// field number, read as signed.
[[nodiscard]] std::int32_t NarrowPieceCount(std::int64_t fieldNumber);

// count pieces of ceil(size / count) bytes; pieces that would start beyond the
// file become the empty piece (size, size), so there are always count entries.
// Zero for a count of 0, NotANumber for a negative one.
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanEqualSplit(std::int64_t size, std::int32_t count,
                                                              std::size_t room);

}  // namespace tessera

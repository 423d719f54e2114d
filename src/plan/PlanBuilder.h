#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// How the tools that add one entry join it to a plan, the same for the
// window's list and the command line's plan: the entry planned, the plan's
// room checked (kMaxSplitLines in all), the place it takes. The tools that
// add many entries are handed PlanRoom and add what they planned at the end.

// How many more lines a plan of `lines` lines takes.
[[nodiscard]] std::size_t PlanRoom(std::size_t lines);

// The text of a plan's line by its row (a list's "start end" line).
using PlanLineAt = std::function<std::string(std::size_t row)>;

struct PlacedEntry {
    SplitEntry entry;
    std::size_t row = 0;  // the row the entry's line is inserted at
};

// The extract tool on a plan of `lines` lines: the entry PlanExtract makes,
// refused with TooManyLines when the plan is full, inserted after every line
// not greater than its own compared as text (TextOrderPosition), so "10 20"
// goes above "9 10".
[[nodiscard]] Planned<PlacedEntry> PlaceExtract(std::size_t lines, const PlanLineAt& lineAt, std::int64_t size,
                                                std::int64_t offset, std::int64_t length);

// The range tool on a plan of `lines` lines: the entry PlanRange makes, to be
// appended; TooManyLines when the plan is full.
[[nodiscard]] Planned<SplitEntry> AppendRange(std::size_t lines, std::int64_t size, std::int64_t start,
                                              std::int64_t end);

}  // namespace tessera

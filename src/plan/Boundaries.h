#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "SplitEntry.h"

namespace tessera {

// Adds 0 and size to the cut offsets, sorts them, drops repeats and makes one
// entry per neighbouring pair: the entries cover [0, size) without gaps.
// The caller guarantees every offset lies in [0, size].
[[nodiscard]] std::vector<SplitEntry> BoundariesToEntries(std::vector<std::int64_t> offsets, std::int64_t size);

// The boundary tool: every white-space separated token of text (space, tab,
// CR, LF, VT, FF) is a cut offset read with ParseNumber. All or nothing: a
// token that is not a number, or an offset beyond size, refuses the whole
// text (nullopt), and so does a negative size or more entries than room.
// A text without any token adds nothing (an empty vector).
[[nodiscard]] std::optional<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size, std::size_t room);

}  // namespace tessera

#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// Adds 0 and size to the cut offsets, sorts them, drops repeats and makes one
// entry per neighbouring pair: the entries cover [0, size) without gaps.
// The caller guarantees every offset lies in [0, size].
[[nodiscard]] std::vector<SplitEntry> BoundariesToEntries(std::vector<std::int64_t> offsets, std::int64_t size);

// How a front end reads one offset: the split list's field number
// (ParseFieldNumber) or the command line's size (ParseSize).
using OffsetParser = std::function<Planned<std::int64_t>(std::string_view)>;

// Every white-space separated token of text (space, tab, CR, LF, VT, FF) read
// with parse, in order. The first token that does not read refuses the text,
// its refusal's at then being the token's offset in text.
[[nodiscard]] Planned<std::vector<std::int64_t>> ReadOffsets(std::string_view text, const OffsetParser& parse);

// The boundary tool: every token of text is a cut offset (ReadOffsets). All
// or nothing: a token that is not a number (its parser's reason), or an
// offset beyond size (BeyondEnd, token: the token, at: its offset), refuses
// the whole text, and so does a negative size (NoSource) or more entries than
// room (TooManyLines). A text without any token adds nothing (an empty
// vector).
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size,
                                                              std::size_t room, const OffsetParser& parse);
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size,
                                                              std::size_t room);

}  // namespace tessera

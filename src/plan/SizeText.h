#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "Refusal.h"

namespace tessera {

// A byte count or offset as the command line takes it: the number grammar of
// the split list (decimal digits, or "0x" and up to 16 hex digits), then an
// optional multiplier suffix as GNU split reads it:
//   K M G T P E, alone or followed by "iB": powers of 1024;
//   kB KB MB GB TB PB EB: powers of 1000.
// After "0x" the hex digits come first, so "0x1E" is 30 and "0x10M" is 16 MiB.
// Refusals: Empty; NotANumber (no digits first; token: the text);
// NotASizeSuffix (token: what follows the digits, at: its offset); TooLarge
// (a number past 2^63 - 1 in decimal or hex, more than 16 hex digits, or a
// suffix that takes the value past 2^63 - 1; token: the text). Unlike the
// split list's parser, a decimal number past 2^63 - 1 is never taken as
// 2^63 - 1.
[[nodiscard]] Planned<std::int64_t> ParseSize(std::string_view text);

// "A:B" as two sizes. Refusals: those of ParseSize for either half (at counts
// from the start of text), NotANumber with the whole text when there is no
// colon.
[[nodiscard]] Planned<std::pair<std::int64_t, std::int64_t>> ParseSizePair(std::string_view text);

// The suffixes ParseSize takes, for messages: "K, M, G, ... or kB, MB, ...".
inline constexpr std::string_view kSizeSuffixHint = "K, M, G, T, P, E, KiB, ... or kB, MB, ...";

}  // namespace tessera

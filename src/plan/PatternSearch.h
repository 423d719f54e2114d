#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// Where white space may stand in a hex pattern: nowhere (the window's byte
// field), or between byte pairs ("50 4B 03 04", the command line).
enum class HexSpacing { None, BetweenPairs };

// Pairs of hex digits, nothing else. Refusals: Empty (no digit at all);
// NotAHexDigit (token: the byte, at: its offset), also for white space where
// spacing allows none or inside a pair; OddHexDigits (a digit left over).
[[nodiscard]] Planned<std::vector<std::uint8_t>> ParseHexPattern(std::string_view text,
                                                                 HexSpacing spacing = HexSpacing::None);

// Calls onMatch(p) for every p with p + pattern.size() <= data.size() and
// data[p, p + size) == pattern, in increasing order, overlapping occurrences
// included. Stops as soon as onMatch returns false. An empty pattern matches
// nothing.
void FindAll(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
             const std::function<bool(std::size_t)>& onMatch);

// The instruction sets the occurrence filter is written for.
enum class SearchKernel { Scalar, Sse2, Avx2 };
// The kernels this machine can run, the one FindAll chooses last. Every one of
// them finds exactly the same occurrences.
[[nodiscard]] std::vector<SearchKernel> SupportedSearchKernels();
// FindAll on a given kernel, which must be one of SupportedSearchKernels().
void FindAll(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
             const std::function<bool(std::size_t)>& onMatch, SearchKernel kernel);

// The file is read in windows of kSearchWindow bytes at strides of
// kSearchStride bytes, so patterns of up to 4,097 bytes are found anywhere.
inline constexpr std::size_t kSearchWindow = 16'781'312;
inline constexpr std::size_t kSearchStride = 16'777'216;

struct SearchOutcome {
    // None when the search went through; otherwise OpenFailed, NoMemory,
    // ReadFailed or TooManyLines (more offsets than maxOffsets).
    Reason status = Reason::None;
    // Distinct occurrence offsets, ascending; meaningful only for None.
    std::vector<std::int64_t> offsets;
};

// Searches the first size bytes of the file at path for every occurrence of
// pattern. Stops with TooManyLines once more than maxOffsets distinct offsets
// were found, with ReadFailed when reads stop short of size (the file shrank, a
// read error). window and stride are parameters for tests.
[[nodiscard]] SearchOutcome SearchFile(const std::string& path, std::int64_t size,
                                       std::span<const std::uint8_t> pattern, std::size_t maxOffsets,
                                       std::size_t window = kSearchWindow, std::size_t stride = kSearchStride);

// How far the search reaches across the border of two windows. Fixed: the
// windows above, so a pattern longer than kSearchWindow - kSearchStride + 1
// bytes is missed where it crosses a border. Whole: the window grows by the
// pattern's length, so every occurrence is found whatever its length.
enum class SearchReach { Fixed, Whole };

// The search tools end to end: the boundary entries of the offsets. A search
// that finds nothing gives the whole file as one entry (none for an empty
// file). Refusals: NoSource (size < 0), Empty (no pattern), OpenFailed,
// ReadFailed, NoMemory, TooManyLines (more entries than room). occurrences,
// when given, receives how many distinct offsets were found.
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanSearch(const std::string& path, std::int64_t size,
                                                          std::span<const std::uint8_t> pattern, std::size_t room,
                                                          SearchReach reach = SearchReach::Fixed,
                                                          std::size_t* occurrences = nullptr);

}  // namespace tessera

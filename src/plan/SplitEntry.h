#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessera {

// One line of the split list: the bytes [start, end) of the source.
struct SplitEntry {
    std::int64_t start = 0;
    std::int64_t end = 0;
    friend bool operator==(const SplitEntry&, const SplitEntry&) = default;
};

// What a list line that does not read back is handed on as: an entry that
// runs backwards, which every split refuses.
inline constexpr SplitEntry kUnreadableEntry{0, -1};

// The split list never holds more lines than this; a tool press that would
// take it past the limit adds nothing.
inline constexpr std::size_t kMaxSplitLines = 1'000'000;

// "start end" in plain decimal: the text form of a split list line.
[[nodiscard]] std::string FormatEntry(std::int64_t start, std::int64_t end);
[[nodiscard]] inline std::string FormatEntry(const SplitEntry& e) { return FormatEntry(e.start, e.end); }

// Reads a line made by FormatEntry back: white space, then start, then end,
// by stream extraction. False when the line does not hold two numbers.
[[nodiscard]] bool ReadEntry(std::string_view line, SplitEntry& entry);

}  // namespace tessera

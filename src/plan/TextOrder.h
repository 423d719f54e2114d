#pragma once

#include <algorithm>
#include <ranges>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// Where the extract tool puts its line in the split list: after every line
// that is not greater than it, compared as text (bytes, or the UTF-16 code
// units of the window's list, the same order for the list's ASCII lines), so
// "10 20" goes above "9 10". On a list that is not in text order the place
// still lies after a neighbour not greater and before a neighbour greater
// than the line. Lines is any range of strings that compare with operator<.
template <typename Lines, typename Line>
[[nodiscard]] std::size_t TextOrderPosition(Lines&& lines, const Line& line)
{
    const auto first = std::ranges::begin(lines);
    const auto after = std::ranges::upper_bound(lines, line, [](const auto& a, const auto& b) { return a < b; });
    return static_cast<std::size_t>(std::ranges::distance(first, after));
}

[[nodiscard]] inline std::size_t TextOrderPosition(const std::vector<std::string>& lines, std::string_view line)
{
    return TextOrderPosition<const std::vector<std::string>&, std::string_view>(lines, line);
}

}  // namespace tessera

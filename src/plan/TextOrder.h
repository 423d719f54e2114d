#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// Where the extract tool puts its line in the split list: after every line
// that is not greater than it, compared byte by byte, so "10 20" goes above
// "9 10". On a list that is not in text order the place still lies after a
// neighbour not greater and before a neighbour greater than the line.
[[nodiscard]] inline std::size_t TextOrderPosition(const std::vector<std::string>& lines, std::string_view line)
{
    const auto after = std::upper_bound(lines.begin(), lines.end(), line,
                                        [](std::string_view a, const std::string& b) { return a < b; });
    return static_cast<std::size_t>(after - lines.begin());
}

}  // namespace tessera

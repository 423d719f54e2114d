#pragma once

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
    std::size_t low = 0;
    std::size_t high = lines.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (std::string_view(lines[middle]).compare(line) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

}  // namespace tessera

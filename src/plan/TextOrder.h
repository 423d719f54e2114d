#pragma once

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
// than the line. Here over `count` lines given by their index: lineAt(i) is
// line i.
template <typename LineAt, typename Line>
[[nodiscard]] std::size_t TextOrderPositionAt(std::size_t count, const LineAt& lineAt, const Line& line)
{
    std::size_t low = 0, high = count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (line < lineAt(middle))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

// The same over any container of strings that compare with operator< and
// are reached by index.
template <typename Lines, typename Line>
[[nodiscard]] std::size_t TextOrderPosition(const Lines& lines, const Line& line)
{
    return TextOrderPositionAt(
        static_cast<std::size_t>(std::size(lines)), [&](std::size_t i) -> decltype(auto) { return lines[i]; }, line);
}

[[nodiscard]] inline std::size_t TextOrderPosition(const std::vector<std::string>& lines, std::string_view line)
{
    return TextOrderPosition<std::vector<std::string>, std::string_view>(lines, line);
}

}  // namespace tessera

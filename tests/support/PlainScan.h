#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessera::test {

// The plain forward scan that the fast search must match: every start p with
// data[p, p + pattern.size()) == pattern, ascending, overlapping ones
// included. An empty pattern is found nowhere.
inline std::vector<std::size_t> PlainScan(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern)
{
    std::vector<std::size_t> found;
    if (pattern.empty())
        return found;
    for (std::size_t p = 0; p + pattern.size() <= data.size(); ++p) {
        std::size_t k = 0;
        while (k < pattern.size() && data[p + k] == pattern[k])
            ++k;
        if (k == pattern.size())
            found.push_back(p);
    }
    return found;
}

}  // namespace tessera::test

#pragma once

#include <string>
#include <vector>

namespace tessera::cli {

struct SeriesFound {
    std::vector<std::string> parts;
    // Empty when the series was found; otherwise why not.
    std::string error;
};

// The parts of a series from `first` on: first ends in "." and three digits,
// and the series runs through the following numbers, up to .999, until a
// name under which nothing exists. A name that exists but cannot be looked
// at is kept, so that opening it fails and names it.
[[nodiscard]] SeriesFound FindSeries(const std::string& first);

}  // namespace tessera::cli

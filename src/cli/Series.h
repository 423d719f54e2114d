#pragma once

#include <string>
#include <vector>

namespace tessera::cli {

struct SeriesFound {
    std::vector<std::string> parts;
    // Empty when the series was found; otherwise why not.
    std::string error;
};

// The parts of a series from `first` on, as the join list adds them: first
// ends in "." and digits, and the series runs through the following numbers
// (NextSeriesNumber) until a name under which nothing exists, at most
// kMaxSeriesParts more. A name that exists but cannot be looked at is kept,
// so that opening it fails and names it.
[[nodiscard]] SeriesFound FindSeries(const std::string& first);

}  // namespace tessera::cli

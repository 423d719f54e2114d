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

// split: what to say when the parts a split wrote (in plan order) do not
// begin at .000, the lowest free number: which names it took, and that the
// lower ones exist already, so that its parts are not joined with another
// split's. Empty when the first part is .000 or there is none.
[[nodiscard]] std::string SplitSeriesNote(const std::vector<std::string>& parts);

struct SeriesEnd {
    // Where the series stopped and why, in one line; for a gap, why the join
    // is refused.
    std::string note;
    // True when a part numbered after the first missing one exists: two
    // series, or one with a part lost. The join is refused.
    bool gap = false;
};

// join --series: the end of the series FindSeries found (parts, from first
// on): the first number under which nothing exists, and any part numbered
// after it, in the same number width.
[[nodiscard]] SeriesEnd DescribeSeriesEnd(const std::vector<std::string>& parts);

}  // namespace tessera::cli

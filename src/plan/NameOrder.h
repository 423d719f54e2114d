#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// Name order with numbers compared as numbers: runs of ASCII digits compare
// by their value ("x.2" before "x.10" before "x.100"), everything else byte
// by byte. Names equal as numbers ("x.02", "x.2") fall back to byte order, so
// the order is total. Negative, zero or positive as a is before, equal to or
// after b.
[[nodiscard]] int CompareNames(std::string_view a, std::string_view b);
[[nodiscard]] inline bool NameLess(std::string_view a, std::string_view b)
{
    return CompareNames(a, b) < 0;
}

// The number after the last "." of a part name ("a.avi.007" gives "007");
// empty when what follows the last "." is not all ASCII digits.
[[nodiscard]] std::string_view SeriesNumber(std::string_view name);

// The following number in the same width: "009" gives "010", "99" gives
// "100", "999" gives "1000".
[[nodiscard]] std::string NextSeriesNumber(std::string_view digits);

// A series of parts never grows by more than this at once, whatever a file
// system claims to hold.
inline constexpr std::size_t kMaxSeriesParts = 100'000;

// The names that follow first in its series: for x.NNN, x.NNN+1, x.NNN+2,
// ... in number order for as long as `exists` says each is there, at most
// kMaxSeriesParts of them. None when first has no series number.
[[nodiscard]] std::vector<std::string> FollowingParts(const std::string& first,
                                                      const std::function<bool(const std::string&)>& exists);

struct SeriesResult {
    std::vector<std::string> lines;  // the whole list afterwards
    std::size_t added = 0;
};

// The join list once the parts that follow lines[row] are added: for x.NNN,
// the names x.NNN+1, x.NNN+2, ... in number order for as long as `exists`
// says each is there. A name already listed is not added again; the new
// names go right after lines[row] and after any of the series that follow it
// there already. Nothing is added when lines[row] has no series number.
[[nodiscard]] SeriesResult AddFollowingParts(const std::vector<std::string>& lines, std::size_t row,
                                             const std::function<bool(const std::string&)>& exists);

}  // namespace tessera

#include "Series.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Messages.h"
#include "plan/NameOrder.h"

namespace tessera::cli {

SeriesFound FindSeries(const std::string& first)
{
    SeriesFound found;
    const std::string_view number = SeriesNumber(first);
    if (number.empty()) {
        found.error = "--series " + Quoted(first) + ": the first part must end in a dot and digits, as .000";
        return found;
    }
    struct stat st;
    if (::stat(first.c_str(), &st) != 0) {
        found.error = WithError("cannot open " + Quoted(first), errno);
        return found;
    }
    // The same series as the join list's: the numbers that follow, in the
    // same width until it grows, as long as a name exists.
    const std::string stem = first.substr(0, first.size() - number.size());
    std::string digits(number);
    found.parts.push_back(first);
    for (std::size_t step = 0; step < kMaxSeriesParts; ++step) {
        digits = NextSeriesNumber(digits);
        const std::string part = stem + digits;
        if (::lstat(part.c_str(), &st) != 0 && errno == ENOENT)
            break;
        found.parts.push_back(part);
    }
    return found;
}

}  // namespace tessera::cli

#include "Series.h"

#include <cerrno>

#include "Messages.h"
#include "fileio/FileQuery.h"
#include "plan/NameOrder.h"

namespace tessera::cli {

SeriesFound FindSeries(const std::string& first)
{
    SeriesFound found;
    if (SeriesNumber(first).empty()) {
        found.error = "--series " + Quoted(first) + ": the first part must end in a dot and digits, as .000";
        return found;
    }
    if (const int error = NameState(first); error != 0) {
        found.error = WithError("cannot open " + Quoted(first), error);
        return found;
    }
    // The join list's series: a name that exists but cannot be looked at is
    // kept, so that the job refuses it by name (a folder as a folder).
    found.parts.push_back(first);
    for (std::string& part : FollowingParts(first, [](const std::string& name) { return NameState(name) != ENOENT; }))
        found.parts.push_back(std::move(part));
    return found;
}

}  // namespace tessera::cli

#include "SplitEntry.h"

#include <locale>
#include <sstream>

#include <boost/format.hpp>

namespace tessera {

std::string FormatEntry(std::int64_t start, std::int64_t end)
{
    // Parsing the format string is most of the cost of a line, and a plan can
    // hold a million of them: parse once per thread. A format given a locale
    // imbues it into a stream for every argument, which doubles the cost, so
    // that one serves only when the process has a global locale of its own
    // (one that might group digits).
    thread_local boost::format plain("%1% %2%");
    thread_local boost::format classic("%1% %2%", std::locale::classic());
    boost::format& format = std::locale() == std::locale::classic() ? plain : classic;
    format.clear();  // drops arguments left bound by an earlier call that threw
    return (format % start % end).str();
}

bool ReadEntry(std::string_view line, SplitEntry& entry)
{
    // One stream per thread: a split reads every line of the plan.
    thread_local std::istringstream in = [] {
        std::istringstream stream;
        stream.imbue(std::locale::classic());
        return stream;
    }();
    in.clear();
    in.str(std::string(line));
    std::int64_t start = 0;
    std::int64_t end = 0;
    if (!(in >> start >> end))
        return false;
    entry = {start, end};
    return true;
}

}  // namespace tessera

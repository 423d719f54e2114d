#include "Series.h"

#include <cerrno>
#include <charconv>

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

namespace {

// 'a' or 'a' to 'b' for a run of names.
std::string Run(const std::string& from, const std::string& to)
{
    return from == to ? Quoted(from) : Quoted(from) + " to " + Quoted(to);
}

// The number of a part name, -1 when it has none or a huge one.
long NumberOf(std::string_view name)
{
    const std::string_view digits = SeriesNumber(name);
    long number = -1;
    if (digits.empty() || std::from_chars(digits.data(), digits.data() + digits.size(), number).ec != std::errc())
        return -1;
    return number;
}

// name with its series number replaced by digits.
std::string WithNumber(std::string_view name, std::string_view digits)
{
    return std::string(name.substr(0, name.size() - SeriesNumber(name).size())) + std::string(digits);
}

}  // namespace

std::string SplitSeriesNote(const std::vector<std::string>& parts)
{
    if (parts.empty())
        return {};
    const std::string_view firstDigits = SeriesNumber(parts.front());
    const long first = NumberOf(parts.front());
    if (first <= 0)
        return {};
    // The parts take the lowest free names: every lower number is taken.
    std::string previous = std::to_string(first - 1);
    if (previous.size() < firstDigits.size())
        previous.insert(0, firstDigits.size() - previous.size(), '0');
    const std::string below = WithNumber(parts.front(), std::string(firstDigits.size(), '0'));
    const std::string lastBelow = WithNumber(parts.front(), previous);
    std::string taken;
    for (std::size_t i = 0; i < parts.size();) {
        // A run of consecutive numbers.
        std::size_t j = i;
        while (j + 1 < parts.size() && NumberOf(parts[j + 1]) == NumberOf(parts[j]) + 1 &&
               NumberOf(parts[j]) >= 0)
            ++j;
        taken += (taken.empty() ? "" : ", ") + Run(parts[i], parts[j]);
        i = j + 1;
    }
    return Run(below, lastBelow) + (first == 1 ? " exists" : " exist") + " already; this split wrote " +
           std::to_string(parts.size()) + (parts.size() == 1 ? " part as " : " parts as ") + taken +
           ": join them on their own";
}

SeriesEnd DescribeSeriesEnd(const std::vector<std::string>& parts)
{
    SeriesEnd end;
    if (parts.empty() || SeriesNumber(parts.back()).empty())
        return end;
    const std::string& last = parts.back();
    const std::size_t width = SeriesNumber(last).size();
    const std::string missing = WithNumber(last, NextSeriesNumber(SeriesNumber(last)));
    const std::string count = std::to_string(parts.size()) + (parts.size() == 1 ? " part" : " parts");
    if (NameState(missing) != ENOENT) {
        // Stopped by the limit, not by a missing number.
        end.note = "--series: joining " + Run(parts.front(), last) + " (" + count + ", the most a series takes)";
        return end;
    }
    end.note = "--series: joining " + Run(parts.front(), last) + " (" + count + "): " + Quoted(missing) +
               " does not exist";
    // Later numbers of the same width, as far as a split numbers its parts.
    std::string probe = missing;
    for (std::size_t tries = 0; tries < 1000; ++tries) {
        const std::string next = NextSeriesNumber(SeriesNumber(probe));
        if (next.size() != width)
            break;
        probe = WithNumber(probe, next);
        if (NameState(probe) != ENOENT) {
            end.gap = true;
            end.note = "--series: " + Quoted(missing) + " is missing, yet " + Quoted(probe) +
                       " exists: give the inputs by name to join the parts as they are";
            break;
        }
    }
    return end;
}

}  // namespace tessera::cli

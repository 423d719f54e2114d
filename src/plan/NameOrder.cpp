#include "NameOrder.h"

#include <algorithm>
#include <unordered_set>

namespace tessera {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t DigitRun(std::string_view s, std::size_t from)
{
    std::size_t end = from;
    while (end < s.size() && IsDigit(s[end]))
        ++end;
    return end;
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const std::size_t aEnd = DigitRun(a, i);
            const std::size_t bEnd = DigitRun(b, j);
            // Leading zeros carry no value; then the longer number is the
            // larger, and equal lengths compare digit by digit.
            std::string_view x = a.substr(i, aEnd - i);
            std::string_view y = b.substr(j, bEnd - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c < 0 ? -1 : 1;
            i = aEnd;
            j = bEnd;
            continue;
        }
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[j]);
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string_view SeriesNumber(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return {};
    const std::string_view digits = name.substr(dot + 1);
    return std::all_of(digits.begin(), digits.end(), IsDigit) ? digits : std::string_view{};
}

std::string NextSeriesNumber(std::string_view digits)
{
    std::string next(digits);
    for (std::size_t i = next.size(); i-- > 0;) {
        if (next[i] != '9') {
            ++next[i];
            return next;
        }
        next[i] = '0';
    }
    return "1" + next;
}

std::vector<std::string> FollowingParts(const std::string& first,
                                        const std::function<bool(const std::string&)>& exists)
{
    std::vector<std::string> parts;
    const std::string_view number = SeriesNumber(first);
    if (number.empty())
        return parts;
    const std::string stem = first.substr(0, first.size() - number.size());
    std::string digits(number);
    for (std::size_t step = 0; step < kMaxSeriesParts; ++step) {
        digits = NextSeriesNumber(digits);
        std::string name = stem + digits;
        if (!exists(name))
            break;
        parts.push_back(std::move(name));
    }
    return parts;
}

SeriesResult AddFollowingParts(const std::vector<std::string>& lines, std::size_t row,
                               const std::function<bool(const std::string&)>& exists)
{
    SeriesResult result;
    if (row >= lines.size() || SeriesNumber(lines[row]).empty()) {
        result.lines = lines;
        return result;
    }
    const std::string& first = lines[row];
    std::unordered_set<std::string> listed(lines.begin(), lines.end());

    result.lines.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(row) + 1);
    std::size_t next = row + 1;  // the first line not yet copied
    for (const std::string& name : FollowingParts(first, exists)) {
        if (next < lines.size() && lines[next] == name) {
            result.lines.push_back(lines[next++]);
            continue;
        }
        if (listed.contains(name))
            continue;  // listed further away: it stays where it is
        listed.insert(name);
        result.lines.push_back(name);
        ++result.added;
    }
    result.lines.insert(result.lines.end(), lines.begin() + static_cast<std::ptrdiff_t>(next), lines.end());
    return result;
}

}  // namespace tessera

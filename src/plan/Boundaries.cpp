#include "Boundaries.h"

#include <algorithm>

#include "ParseNumber.h"
#include "Tokens.h"

namespace tessera {

namespace {

// Sorted, without repeats, closed with 0 and size.
void CloseAndSort(std::vector<std::int64_t>& offsets, std::int64_t size)
{
    offsets.push_back(0);
    offsets.push_back(size);
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
}

std::vector<SplitEntry> Pairs(const std::vector<std::int64_t>& sorted)
{
    std::vector<SplitEntry> entries;
    if (sorted.size() < 2)
        return entries;
    entries.reserve(sorted.size() - 1);
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i)
        entries.push_back({sorted[i], sorted[i + 1]});
    return entries;
}

}  // namespace

std::vector<SplitEntry> BoundariesToEntries(std::vector<std::int64_t> offsets, std::int64_t size)
{
    CloseAndSort(offsets, size);
    return Pairs(offsets);
}

std::optional<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size, std::size_t room)
{
    if (size < 0)
        return std::nullopt;
    std::vector<std::int64_t> offsets;
    const bool allNumbers = ForEachToken(text, [&](std::string_view token) {
        const std::int64_t value = ParseNumber(token);
        if (value < 0 || value > size)
            return false;
        offsets.push_back(value);
        return true;
    });
    if (!allNumbers)
        return std::nullopt;
    if (offsets.empty())
        return std::vector<SplitEntry>{};
    CloseAndSort(offsets, size);
    // The count is known before a single entry is made.
    if (offsets.size() - 1 > room)
        return std::nullopt;
    return Pairs(offsets);
}

}  // namespace tessera

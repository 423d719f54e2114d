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

// Reads the tokens until check refuses one.
template <typename Check>
Planned<std::vector<std::int64_t>> ReadChecked(std::string_view text, const OffsetParser& parse, Check check)
{
    std::vector<std::int64_t> offsets;
    Refusal refusal;
    ForEachToken(text, [&](std::string_view token) {
        const auto at = static_cast<std::size_t>(token.data() - text.data());
        Planned<std::int64_t> value = parse(token);
        if (!value) {
            refusal = value.error();
            refusal.at = at;
            return false;
        }
        if (!check(*value, token, at, refusal))
            return false;
        offsets.push_back(*value);
        return true;
    });
    if (refusal.reason != Reason::None)
        return refusal;
    return offsets;
}

}  // namespace

std::vector<SplitEntry> BoundariesToEntries(std::vector<std::int64_t> offsets, std::int64_t size)
{
    CloseAndSort(offsets, size);
    return Pairs(offsets);
}

Planned<std::vector<std::int64_t>> ReadOffsets(std::string_view text, const OffsetParser& parse)
{
    return ReadChecked(text, parse, [](std::int64_t, std::string_view, std::size_t, Refusal&) { return true; });
}

Planned<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size, std::size_t room,
                                                const OffsetParser& parse)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    Planned<std::vector<std::int64_t>> offsets =
        ReadChecked(text, parse, [size](std::int64_t value, std::string_view token, std::size_t at, Refusal& why) {
            if (value <= size)
                return true;
            why = Refuse(Reason::BeyondEnd, token, at);
            return false;
        });
    if (!offsets)
        return offsets.error();
    if (offsets->empty())
        return std::vector<SplitEntry>{};
    CloseAndSort(*offsets, size);
    // The count is known before a single entry is made.
    if (offsets->size() - 1 > room)
        return Refuse(Reason::TooManyLines);
    return Pairs(*offsets);
}

Planned<std::vector<SplitEntry>> PlanBoundaries(std::string_view text, std::int64_t size, std::size_t room)
{
    return PlanBoundaries(text, size, room, ParseFieldNumber);
}

}  // namespace tessera

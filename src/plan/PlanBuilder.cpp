#include "PlanBuilder.h"

#include "RangeBuilders.h"
#include "TextOrder.h"

namespace tessera {

std::size_t PlanRoom(std::size_t lines)
{
    return lines >= kMaxSplitLines ? 0 : kMaxSplitLines - lines;
}

Planned<PlacedEntry> PlaceExtract(std::size_t lines, const PlanLineAt& lineAt, std::int64_t size,
                                  std::int64_t offset, std::int64_t length)
{
    const Planned<SplitEntry> entry = PlanExtract(size, offset, length);
    if (!entry)
        return entry.error();
    if (PlanRoom(lines) == 0)
        return Refuse(Reason::TooManyLines);
    const std::size_t row = TextOrderPositionAt(lines, lineAt, FormatEntry(*entry));
    return PlacedEntry{*entry, row};
}

Planned<SplitEntry> AppendRange(std::size_t lines, std::int64_t size, std::int64_t start, std::int64_t end)
{
    const Planned<SplitEntry> entry = PlanRange(size, start, end);
    if (!entry)
        return entry;
    if (PlanRoom(lines) == 0)
        return Refuse(Reason::TooManyLines);
    return entry;
}

}  // namespace tessera

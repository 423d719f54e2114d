#include "RangeBuilders.h"

namespace tessera {

namespace {

// a * b, or limit when the product passes it (or overflows).
std::int64_t MulCapped(std::int64_t a, std::int64_t b, std::int64_t limit)
{
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product) || product > limit)
        return limit;
    return product;
}

}  // namespace

Planned<SplitEntry> PlanExtract(std::int64_t size, std::int64_t offset, std::int64_t length)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (offset < 0 || length < 0)
        return Refuse(Reason::NotANumber);
    if (offset > size)
        return Refuse(Reason::BeyondEnd);
    std::int64_t end = 0;
    if (__builtin_add_overflow(offset, length, &end) || end > size)
        return Refuse(Reason::BeyondEnd);
    return SplitEntry{offset, end};
}

Planned<SplitEntry> PlanRange(std::int64_t size, std::int64_t start, std::int64_t end)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (start < 0 || end < 0)
        return Refuse(Reason::NotANumber);
    if (start > end)
        return Refuse(Reason::StartAfterEnd);
    if (end > size)
        return Refuse(Reason::BeyondEnd);
    return SplitEntry{start, end};
}

Planned<std::vector<SplitEntry>> PlanFixedSize(std::int64_t size, std::int64_t piece, std::size_t room)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (piece < 0)
        return Refuse(Reason::NotANumber);
    if (piece == 0)
        return Refuse(Reason::Zero);
    if (size == 0)
        return std::vector<SplitEntry>{};
    const std::int64_t count = size / piece + (size % piece != 0 ? 1 : 0);
    if (static_cast<std::uint64_t>(count) > room)
        return Refuse(Reason::TooManyLines);
    std::vector<SplitEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (std::int64_t k = 0; k < count; ++k) {
        // k * piece < size, and (k + 1) * piece is capped at size before it
        // could overflow.
        entries.push_back({k * piece, MulCapped(k + 1, piece, size)});
    }
    return entries;
}

std::int32_t NarrowPieceCount(std::int64_t fieldNumber)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(fieldNumber)));
}

Planned<std::vector<SplitEntry>> PlanEqualSplit(std::int64_t size, std::int32_t count, std::size_t room)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (count < 0)
        return Refuse(Reason::NotANumber);
    if (count == 0)
        return Refuse(Reason::Zero);
    // Decided before anything is allocated: a count of 2^31 - 1 returns at once.
    if (static_cast<std::uint64_t>(count) > room)
        return Refuse(Reason::TooManyLines);
    const std::int64_t chunk = size / count + (size % count != 0 ? 1 : 0);
    std::vector<SplitEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (std::int64_t k = 0; k < count; ++k) {
        // Pieces that would start beyond the file become (size, size).
        entries.push_back({MulCapped(k, chunk, size), MulCapped(k + 1, chunk, size)});
    }
    return entries;
}

}  // namespace tessera

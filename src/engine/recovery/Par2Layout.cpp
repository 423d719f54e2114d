#include "engine/recovery/Par2Layout.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Repair.h"

namespace tessera {

namespace {

// Slices of at least this size, cut to a count, are a multiple of 64 bytes.
constexpr std::uint64_t kWholeBlocksFrom = 4096;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

std::uint64_t SlicesOf(std::uint64_t length, std::uint64_t sliceSize) { return (length + sliceSize - 1) / sliceSize; }

// The parts that hold bytes, in plan order.
std::vector<std::uint64_t> Holding(const std::vector<std::int64_t>& lengths)
{
    std::vector<std::uint64_t> parts;
    for (const std::int64_t length : lengths)
        if (length > 0)
            parts.push_back(static_cast<std::uint64_t>(length));
    return parts;
}

std::uint64_t CountSlices(const std::vector<std::uint64_t>& parts, std::uint64_t sliceSize)
{
    std::uint64_t count = 0;
    for (const std::uint64_t length : parts)
        count += SlicesOf(length, sliceSize);
    return count;
}

// The slices of the n parts that take most, together.
std::uint64_t LargestSlices(const std::vector<std::uint64_t>& parts, std::uint64_t sliceSize, std::size_t n)
{
    std::vector<std::uint64_t> slices;
    slices.reserve(parts.size());
    for (const std::uint64_t length : parts)
        slices.push_back(SlicesOf(length, sliceSize));
    n = std::min(n, slices.size());
    std::partial_sort(slices.begin(), slices.begin() + static_cast<std::ptrdiff_t>(n), slices.end(),
                      std::greater<>());
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += slices[i];
    return sum;
}

// The slice size of the grain asked for; 0 with the fault in planned.
std::uint64_t SliceSizeFor(const std::vector<std::uint64_t>& parts, const Par2Ask& ask, Par2Planned& planned)
{
    const std::uint64_t longest = *std::max_element(parts.begin(), parts.end());
    std::uint64_t sliceSize = 0;
    if (ask.sliceSize > 0) {
        // A slice longer than every part holds only padding.
        sliceSize = std::min(ask.sliceSize, RoundUp(longest, 4));
    } else if (ask.slices > 0) {
        if (ask.slices < parts.size()) {
            planned.fault = Par2LayoutFault::FewerSlicesThanParts;
            planned.needed = parts.size();
            return 0;
        }
        // The least multiple of 4 that cuts the parts into no more slices
        // than asked; the count only falls as the size grows.
        std::uint64_t low = 1, high = RoundUp(longest, 4) / 4;
        while (low < high) {
            const std::uint64_t mid = low + (high - low) / 2;
            if (CountSlices(parts, 4 * mid) <= ask.slices)
                high = mid;
            else
                low = mid + 1;
        }
        // From 4 KiB up, a whole number of 64-byte blocks, which the writer
        // hashes in vector lanes, costs under 2 % of the slices.
        sliceSize = 4 * low >= kWholeBlocksFrom ? RoundUp(4 * low, 64) : 4 * low;
    } else {
        // Each part in a whole number of slices where the parts are alike,
        // about kPar2TargetSlices in all.
        const std::uint64_t perPart =
            std::max<std::uint64_t>(1, (kPar2TargetSlices + parts.size() - 1) / parts.size());
        sliceSize = RoundUp((longest + perPart - 1) / perPart, 64);
    }
    if (const std::uint64_t count = CountSlices(parts, sliceSize); count > kPar2SliceLimit) {
        planned.fault = Par2LayoutFault::TooManySlices;
        planned.needed = count;
        return 0;
    }
    return sliceSize;
}

}  // namespace

Par2LayoutFault CheckPar2Grain(const Par2Ask& ask)
{
    if (ask.slices > kPar2SliceLimit || (ask.slices > 0 && ask.sliceSize > 0))
        return Par2LayoutFault::SlicesOutOfRange;
    if (ask.sliceSize % 4 != 0)
        return Par2LayoutFault::SliceSizeNotMultiple;
    return Par2LayoutFault::None;
}

Par2Planned PlanPar2(const std::vector<std::int64_t>& lengths, const Par2Ask& ask)
{
    Par2Planned planned;
    if ((planned.fault = CheckPar2Grain(ask)) != Par2LayoutFault::None)
        return planned;
    const std::vector<std::uint64_t> parts = Holding(lengths);
    if (parts.empty() || ask.amount == 0)
        return planned;
    const std::uint64_t sliceSize = SliceSizeFor(parts, ask, planned);
    if (sliceSize == 0)
        return planned;
    Par2Layout& layout = planned.layout;
    layout.sliceSize = sliceSize;
    layout.inputSlices = CountSlices(parts, sliceSize);

    std::uint64_t recovery = 0;
    if (ask.kind == Par2Ask::Kind::Percent) {
        recovery = (layout.inputSlices * std::min(ask.amount, 100u) + 99) / 100;
    } else {
        const std::uint64_t lost = LargestSlices(parts, sliceSize, ask.amount);
        const std::uint64_t repairable = Par2RepairableSlices(layout.inputSlices, sliceSize);
        if (lost > repairable) {
            planned = {};
            planned.fault = Par2LayoutFault::PartsTooLarge;
            planned.needed = lost;
            planned.limit = repairable;
            return planned;
        }
        const std::uint64_t margin = std::max<std::uint64_t>(2, (layout.inputSlices + 31) / 32);
        recovery = std::min(lost + margin, std::min(repairable, layout.inputSlices));
    }
    layout.recoverySlices = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(recovery, 1, kPar2MaxExponent + 1));
    for (std::uint32_t left = layout.recoverySlices, next = 1; left > 0; next *= 2) {
        const std::uint32_t take = std::min(left, next);
        layout.volumes.push_back(take);
        left -= take;
    }
    return planned;
}

Par2Planned PlanPar2ForPlan(const std::vector<SplitEntry>& plan, const Par2Ask& ask)
{
    std::vector<std::int64_t> lengths;
    lengths.reserve(plan.size());
    for (const SplitEntry& entry : plan)
        lengths.push_back(entry.end - entry.start);
    return PlanPar2(lengths, ask);
}

Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent)
{
    return PlanPar2(lengths, Par2Ask{Par2Ask::Kind::Percent, percent}).layout;
}

Par2Layout PlanPar2ForPlan(const std::vector<SplitEntry>& plan, unsigned percent)
{
    return PlanPar2ForPlan(plan, Par2Ask{Par2Ask::Kind::Percent, percent}).layout;
}

Par2Reach Par2ReachOf(const std::vector<std::int64_t>& lengths, std::uint64_t sliceSize, std::uint64_t recoverySlices)
{
    Par2Reach reach;
    const std::vector<std::uint64_t> parts = Holding(lengths);
    if (parts.empty() || sliceSize == 0)
        return reach;
    reach.parts = static_cast<std::uint32_t>(parts.size());
    const std::uint64_t slices = CountSlices(parts, sliceSize);
    const std::uint64_t repairable = Par2RepairableSlices(slices, sliceSize);
    reach.slices = std::min(recoverySlices, repairable);

    std::vector<std::uint64_t> sizes;
    for (const std::uint64_t length : parts)
        sizes.push_back(SlicesOf(length, sliceSize));
    std::sort(sizes.begin(), sizes.end(), std::greater<>());
    std::uint64_t lost = 0;
    while (reach.lostParts < sizes.size() && lost + sizes[reach.lostParts] <= reach.slices)
        lost += sizes[reach.lostParts++];
    reach.largestPart = static_cast<std::int64_t>(*std::max_element(parts.begin(), parts.end()));
    reach.largestPartSlices = sizes.front();
    if (reach.largestPartSlices <= repairable)
        for (unsigned percent = 1; percent <= 100 && reach.onePartPercent == 0; ++percent)
            if ((slices * percent + 99) / 100 >= reach.largestPartSlices)
                reach.onePartPercent = percent;
    return reach;
}

std::optional<Par2Ask> ParseRecoveryAsk(const std::string& text)
{
    for (const char* suffix : {"parts", "part"}) {
        const std::string tail = suffix;
        if (text.size() <= tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        const std::string digits = text.substr(0, text.size() - tail.size());
        if (digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned parts = static_cast<unsigned>(std::stoul(digits));
        if (parts < 1 || parts > 1000)
            return std::nullopt;
        return Par2Ask{Par2Ask::Kind::Parts, parts};
    }
    if (const std::optional<unsigned> percent = ParseRecoveryPercent(text))
        return Par2Ask{Par2Ask::Kind::Percent, *percent};
    return std::nullopt;
}

std::optional<unsigned> ParseRecoveryPercent(const std::string& text)
{
    std::string digits = text;
    if (!digits.empty() && digits.back() == '%')
        digits.pop_back();
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned percent = static_cast<unsigned>(std::stoul(digits));
    if (percent < 1 || percent > 100)
        return std::nullopt;
    return percent;
}

std::vector<std::string> Par2Names(const std::string& base, const Par2Layout& layout)
{
    std::vector<std::string> names{base + ".par2"};
    const int firstWidth = static_cast<int>(std::to_string(layout.recoverySlices).size());
    const std::uint32_t largest = layout.volumes.empty() ? 0 : *std::max_element(layout.volumes.begin(), layout.volumes.end());
    const int countWidth = static_cast<int>(std::to_string(largest).size());
    std::uint32_t first = 0;
    for (const std::uint32_t count : layout.volumes) {
        char name[64];
        std::snprintf(name, sizeof name, ".vol%0*u+%0*u.par2", firstWidth, first, countWidth, count);
        names.push_back(base + name);
        first += count;
    }
    return names;
}

}  // namespace tessera

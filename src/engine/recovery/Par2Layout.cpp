#include "engine/recovery/Par2Layout.h"

#include <algorithm>
#include <cstdio>

#include "engine/recovery/Par2Reader.h"
#include "plan/SplitEntry.h"

namespace tessera {

namespace {

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

}  // namespace

Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent)
{
    Par2Layout layout;
    std::uint64_t parts = 0, longest = 0;
    for (const std::int64_t length : lengths)
        if (length > 0) {
            ++parts;
            longest = std::max(longest, static_cast<std::uint64_t>(length));
        }
    if (parts == 0 || percent == 0)
        return layout;
    // Each part in a whole number of slices where the parts are alike, about
    // kPar2TargetSlices in all; a part never shares a slice with another.
    const std::uint64_t perPart = std::max<std::uint64_t>(1, (kPar2TargetSlices + parts - 1) / parts);
    layout.sliceSize = RoundUp((longest + perPart - 1) / perPart, 64);
    for (const std::int64_t length : lengths)
        if (length > 0)
            layout.inputSlices += (static_cast<std::uint64_t>(length) + layout.sliceSize - 1) / layout.sliceSize;
    const std::uint64_t recovery = (layout.inputSlices * std::min(percent, 100u) + 99) / 100;
    layout.recoverySlices = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(recovery, 1, kPar2MaxExponent + 1));
    for (std::uint32_t left = layout.recoverySlices, next = 1; left > 0; next *= 2) {
        const std::uint32_t take = std::min(left, next);
        layout.volumes.push_back(take);
        left -= take;
    }
    return layout;
}

Par2Layout PlanPar2ForPlan(const std::vector<SplitEntry>& plan, unsigned percent)
{
    std::vector<std::int64_t> lengths;
    lengths.reserve(plan.size());
    for (const SplitEntry& entry : plan)
        lengths.push_back(entry.end - entry.start);
    return PlanPar2(lengths, percent);
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

#include "RecoveryTexts.h"

#include <cstdio>

#include "Messages.h"
#include "plan/SizeText.h"

namespace tessera::cli {

namespace {

std::string Count(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::optional<std::string> ReadRecoveryOptions(const std::string& recovery, const std::string& slices,
                                               const std::string& sliceSize, Par2Ask& ask)
{
    ask = {};
    if (!recovery.empty()) {
        const std::optional<Par2Ask> read = ParseRecoveryAsk(recovery);
        if (!read)
            return "--recovery " + Quoted(recovery) +
                   ": not a whole percentage from 1 to 100, nor lost parts to rebuild (1part, 2parts, ...)";
        ask = *read;
    }
    if (!slices.empty()) {
        if (slices.size() > 5 || slices.find_first_not_of("0123456789") != std::string::npos ||
            std::stoull(slices) < 1 || std::stoull(slices) > kPar2SliceLimit)
            return "--slices " + Quoted(slices) + ": not a whole number from 1 to " + std::to_string(kPar2SliceLimit);
        ask.slices = std::stoull(slices);
    }
    if (!sliceSize.empty()) {
        const Planned<std::int64_t> size = ParseSize(sliceSize);
        if (!size || *size < 4 || *size % 4 != 0)
            return "--slice-size " + Quoted(sliceSize) + ": not a size in bytes that is a multiple of 4";
        ask.sliceSize = static_cast<std::uint64_t>(*size);
    }
    if (ask.slices > 0 && ask.sliceSize > 0)
        return "--slices and --slice-size both set the slices: give one of them";
    if ((ask.slices > 0 || ask.sliceSize > 0) && recovery.empty())
        return std::string(ask.slices > 0 ? "--slices" : "--slice-size") + " cuts a recovery set: give --recovery too";
    return std::nullopt;
}

std::string BinarySize(std::int64_t bytes)
{
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return Count(static_cast<std::uint64_t>(bytes), "byte", "bytes");
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (value == static_cast<double>(static_cast<std::int64_t>(value)))
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string ReachText(const Par2Reach& reach)
{
    const std::string slices = Count(reach.slices, "damaged slice", "damaged slices");
    if (reach.lostParts == 0)
        return "rebuilds up to " + slices + ", no lost part";
    const std::string size = BinarySize(reach.largestPart);
    if (reach.lostParts == reach.parts)
        return "rebuilds " + (reach.parts == 1 ? std::string("its part") : "all " + std::to_string(reach.parts) + " parts") +
               " (" + size + (reach.parts == 1 ? "" : " each at most") + ") or up to " + slices;
    return "rebuilds any " + Count(reach.lostParts, "lost part", "lost parts") + " (" + size +
           (reach.lostParts == 1 ? "" : " each at most") + ") or up to " + slices;
}

std::string ShortPercentText(unsigned percent, const Par2Reach& reach)
{
    std::string text = "with " + std::to_string(percent) + " % no lost part can be rebuilt; ";
    if (reach.onePartPercent > 0)
        return text + "one lost part needs " + std::to_string(reach.onePartPercent) + " %";
    return text + "one lost part is " + Count(reach.largestPartSlices, "slice", "slices") +
           ", more than a repair rebuilds at once: give fewer --slices";
}

std::string LayoutFaultText(const Par2Planned& planned, const Par2Ask& ask)
{
    switch (planned.fault) {
    case Par2LayoutFault::FewerSlicesThanParts:
        return "--slices " + std::to_string(ask.slices) + ": the plan has " + Count(planned.needed, "part", "parts") +
               " with bytes, and each takes a slice of its own";
    case Par2LayoutFault::TooManySlices:
        return (ask.sliceSize > 0 ? "--slice-size " + std::to_string(ask.sliceSize) : std::string("the parts")) +
               ": the parts would be " + std::to_string(planned.needed) + " slices, more than " +
               std::to_string(kPar2SliceLimit);
    case Par2LayoutFault::PartsTooLarge:
        return "--recovery " + std::to_string(ask.amount) + (ask.amount == 1 ? "part: " : "parts: ") +
               (ask.amount == 1 ? std::string("a lost part is ") : "lost parts are ") + std::to_string(planned.needed) +
               " slices, more than a repair rebuilds at once (" + std::to_string(planned.limit) +
               "): give fewer --slices or a larger --slice-size";
    case Par2LayoutFault::SlicesOutOfRange:
    case Par2LayoutFault::SliceSizeNotMultiple:
    case Par2LayoutFault::None:
        break;
    }
    return "the recovery set's slices cannot be laid out";
}

}  // namespace tessera::cli

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/recovery/Par2Reach.h"
#include "plan/SplitEntry.h"

// The shape and the names of a recovery set for the parts of a split,
// decided from the parts' sizes alone before anything is read, and what such
// a set can rebuild.
namespace tessera {

// About how many input slices a set is cut into: the work grows with the
// number of recovery slices, that is with this times the percentage.
inline constexpr std::uint64_t kPar2TargetSlices = 64;

// Input slices a set may have at most.
inline constexpr std::uint64_t kPar2SliceLimit = 32768;

struct Par2Layout {
    std::uint64_t sliceSize = 0;       // a multiple of 4 (of 64 at the default grain)
    std::uint64_t inputSlices = 0;     // over all parts
    std::uint32_t recoverySlices = 0;  // exponents 0 .. recoverySlices - 1
    // Recovery slices per volume, in order: 1, 2, 4, ... and what is left.
    std::vector<std::uint32_t> volumes;
};

// What a split asks its recovery set to be: its size, and its grain.
struct Par2Ask {
    enum class Kind {
        Percent,  // amount percent (1 to 100) of the parts' slices, rounded up
        Parts,    // enough to rebuild any amount (1 or more) lost parts, and a margin
    };
    Kind kind = Kind::Percent;
    // 0: no set.
    unsigned amount = 0;
    // The grain, at most one of the two: the most input slices (1 to
    // kPar2SliceLimit; the least slice size that cuts the parts into no
    // more, a multiple of 4, and of 64 from 4 KiB up), or the slice size (a
    // multiple of 4; at most the longest part's length rounded up to 4).
    // Neither: about kPar2TargetSlices slices, a multiple of 64 bytes each.
    std::uint64_t slices = 0;
    std::uint64_t sliceSize = 0;
};

enum class Par2LayoutFault {
    None,
    SlicesOutOfRange,       // slices beyond kPar2SliceLimit, or both slices and sliceSize given
    SliceSizeNotMultiple,   // sliceSize is not a multiple of 4
    FewerSlicesThanParts,   // slices fewer than the parts that hold bytes (needed: those parts)
    TooManySlices,          // the grain cuts the parts into more than kPar2SliceLimit slices (needed)
    PartsTooLarge,          // the parts asked for are more slices (needed) than one repair rebuilds (limit)
};

struct Par2Planned {
    // sliceSize 0: the parts hold no bytes, or the ask is for no set.
    Par2Layout layout;
    Par2LayoutFault fault = Par2LayoutFault::None;
    std::uint64_t needed = 0;
    std::uint64_t limit = 0;
};

// The grain alone, before any plan: SlicesOutOfRange, SliceSizeNotMultiple
// or None.
[[nodiscard]] Par2LayoutFault CheckPar2Grain(const Par2Ask& ask);

// The layout for parts of these lengths (in plan order; parts of no bytes
// take no slices, as a set holds no empty file). Each part is a whole number
// of slices, never sharing one. For Parts, the recovery slices are those of
// the amount largest parts (all of them when there are fewer), and one
// slice in 32 of the rest (at least 2) for damage scattered elsewhere, up to
// what one repair rebuilds; recovery slices never exceed the input slices.
[[nodiscard]] Par2Planned PlanPar2(const std::vector<std::int64_t>& lengths, const Par2Ask& ask);
[[nodiscard]] Par2Planned PlanPar2ForPlan(const std::vector<SplitEntry>& plan, const Par2Ask& ask);

// What a set of this slice size and these recovery slices can rebuild of
// parts of these lengths (a set being made, or one read back: its files).
[[nodiscard]] Par2Reach Par2ReachOf(const std::vector<std::int64_t>& lengths, std::uint64_t sliceSize,
                                    std::uint64_t recoverySlices);

// A recovery size as given: a whole percentage (as ParseRecoveryPercent), or
// "Npart" / "Nparts" for any N (1 to 1000) lost parts; nothing otherwise.
[[nodiscard]] std::optional<Par2Ask> ParseRecoveryAsk(const std::string& text);

// The layout of a percentage (1 to 100) at the default grain, which never
// faults for the parts a split can write (at most a thousand).
[[nodiscard]] Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent);
[[nodiscard]] Par2Layout PlanPar2ForPlan(const std::vector<SplitEntry>& plan, unsigned percent);

// A recovery size as given: a whole number of percent from 1 to 100, with
// or without "%"; nothing otherwise.
[[nodiscard]] std::optional<unsigned> ParseRecoveryPercent(const std::string& text);

// The files of a set at base: "<base>.par2", then each volume's
// ("<base>.volFFF+CC.par2": CC recovery slices from exponent FFF on).
[[nodiscard]] std::vector<std::string> Par2Names(const std::string& base, const Par2Layout& layout);

}  // namespace tessera

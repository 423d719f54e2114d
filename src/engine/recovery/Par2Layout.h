#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/SplitEntry.h"

// The shape and the names of a recovery set for the parts of a split,
// decided from the parts' sizes alone before anything is read.
namespace tessera {

// About how many input slices a set is cut into: the work grows with the
// number of recovery slices, that is with this times the percentage.
inline constexpr std::uint64_t kPar2TargetSlices = 64;

struct Par2Layout {
    std::uint64_t sliceSize = 0;       // a multiple of 64
    std::uint64_t inputSlices = 0;     // over all parts
    std::uint32_t recoverySlices = 0;  // exponents 0 .. recoverySlices - 1
    // Recovery slices per volume, in order: 1, 2, 4, ... and what is left.
    std::vector<std::uint32_t> volumes;
};

// The layout for parts of these lengths with percent (1 to 100) of their
// slices' count as recovery slices, rounded up. Parts of no bytes take no
// slices (a set holds no empty file); none at all: sliceSize 0.
[[nodiscard]] Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent);

// The layout for a split's plan.
[[nodiscard]] Par2Layout PlanPar2ForPlan(const std::vector<SplitEntry>& plan, unsigned percent);

// A recovery size as given: a whole number of percent from 1 to 100, with
// or without "%"; nothing otherwise.
[[nodiscard]] std::optional<unsigned> ParseRecoveryPercent(const std::string& text);

// The files of a set at base: "<base>.par2", then each volume's
// ("<base>.volFFF+CC.par2": CC recovery slices from exponent FFF on).
[[nodiscard]] std::vector<std::string> Par2Names(const std::string& base, const Par2Layout& layout);

}  // namespace tessera

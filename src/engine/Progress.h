#pragma once

namespace tessera {

// A job's progress runs from 0 to kProgressRange.
inline constexpr int kProgressRange = 0x10000;

// The position for a fraction of the job: clamped to [0, 1] (NaN counts as
// 0), times kProgressRange, truncated.
[[nodiscard]] int ProgressPosition(float fraction);

}  // namespace tessera

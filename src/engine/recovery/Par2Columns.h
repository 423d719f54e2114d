#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/recovery/Par2Layout.h"
#include "engine/recovery/Par2PartHashes.h"

// The recovery slices of a set, computed column by column from the parts'
// ranges of the source: a column of every input slice is multiplied into
// that column of every recovery slice, so the recovery slices' columns stay
// in the processor's cache and only one column of them is ever held. Memory
// stays within kPar2ColumnMemory and a few megabytes more, whatever the
// source's size.
namespace tessera {

// The recovery slices' columns held at once, at most.
inline constexpr std::uint64_t kPar2ColumnMemory = 64ull << 20;

// Takes the bytes [at, at + size) of recovery slice j (exponent j), once each,
// column after column and within a column j after j; 0, or the errno of the
// write that failed.
using Par2ColumnSink = std::function<int(std::uint32_t j, std::uint64_t at, const std::uint8_t* bytes, std::size_t size)>;

// The columns of the layout's recovery slices from the parts (in the set's
// order, their firstSlice given), read from source; stopping is asked
// before every read. A fault of the sink ends the sweep (writing).
[[nodiscard]] Par2StageEnd ComputeRecoveryColumns(const std::vector<Par2Part>& parts, const Par2Layout& layout,
                                                  NFile& source, const std::function<bool()>& stopping,
                                                  const Par2ColumnSink& sink);

}  // namespace tessera

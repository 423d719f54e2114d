#pragma once

#include <optional>
#include <string>

#include "engine/recovery/Par2Layout.h"

// The command line's words for a recovery set's size, grain and reach.
namespace tessera::cli {

// --recovery, --slices and --slice-size as given (empty: not given) into
// ask; the refusal of a bad one, worded for the command line.
[[nodiscard]] std::optional<std::string> ReadRecoveryOptions(const std::string& recovery, const std::string& slices,
                                                             const std::string& sliceSize, Par2Ask& ask);

// "rebuilds any 1 lost part (700 MiB) or up to 15 damaged slices", or, when
// no whole part can be, "rebuilds up to 6 damaged slices, no lost part".
[[nodiscard]] std::string ReachText(const Par2Reach& reach);

// The warning for a percentage that rebuilds no lost part: "with 10 % no
// lost part can be rebuilt; one lost part needs 23 %".
[[nodiscard]] std::string ShortPercentText(unsigned percent, const Par2Reach& reach);

// Why the layout asked for cannot be made of this plan.
[[nodiscard]] std::string LayoutFaultText(const Par2Planned& planned, const Par2Ask& ask);

// bytes in binary units: "700 MiB", "1.5 GiB", "100 bytes".
[[nodiscard]] std::string BinarySize(std::int64_t bytes);

}  // namespace tessera::cli

#pragma once

#include <cstdint>
#include <string_view>

namespace tessera::cli {

// A byte count or offset as the command line takes it: the number grammar of
// the split list (decimal digits, or "0x" and up to 16 hex digits), then an
// optional multiplier suffix as GNU split reads it:
//   K M G T P E, alone or followed by "iB": powers of 1024;
//   kB KB MB GB TB PB EB: powers of 1000.
// After "0x" the hex digits come first, so "0x1E" is 30 and "0x10M" is 16 MiB.
// Negative when the text is no such number or a suffix takes the value past
// 2^63 - 1; a decimal number beyond that range alone is 2^63 - 1, as in the
// split list.
[[nodiscard]] std::int64_t ParseSize(std::string_view text);

}  // namespace tessera::cli

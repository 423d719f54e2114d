#pragma once

#include <cstdint>
#include <string_view>

#include "Refusal.h"

namespace tessera {

// Value 0..15 of the hex digits 0-9, a-f, A-F; -1 for every other byte.
extern const std::int8_t kHexDigits[256];

// The number written in text, >= 0; negative when text is not a number.
//  - "0x" followed by at most 16 hex digits is read as hexadecimal ("0x" alone
//    is 0); sixteen digits starting with 8-f give a negative value.
//  - Anything else must be one or more ASCII digits, read as decimal; a value
//    above 2^63 - 1 gives 2^63 - 1.
//  - Every other text, the empty one included, gives -1.
[[nodiscard]] std::int64_t ParseNumber(std::string_view text);

// ParseNumber with its refusal: Empty for "", NotANumber (token: text) for
// every other text it gives -1 for. A negative hex value is NotANumber too.
[[nodiscard]] Planned<std::int64_t> ParseFieldNumber(std::string_view text);

}  // namespace tessera

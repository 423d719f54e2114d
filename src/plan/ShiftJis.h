#pragma once

#include <string>
#include <string_view>

#include "Refusal.h"

namespace tessera {

// The bytes of UTF-8 text in code page 932, as a Japanese Windows system
// writes them ("～" and "〜" both give 81 60, "¥" gives 5C). Refused with
// NoCodePage932Form (token: the character or the first byte that is no UTF-8,
// at: its offset) when the text is not valid UTF-8 or holds a character that
// has no such form; every character gives at least one byte.
[[nodiscard]] Planned<std::string> EncodeShiftJis(std::string_view utf8);

// Code page 932 bytes as UTF-8 text to show beside a hex dump: a byte that
// begins no character of the code page (a lone trail byte, a lead byte cut
// off at the end) shows as ".", and so does every control character and
// every character of the private use area.
[[nodiscard]] std::string DecodeShiftJisForDisplay(std::string_view bytes);

}  // namespace tessera

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessera {

// The bytes of UTF-8 text in code page 932, as a Japanese Windows system
// writes them ("～" and "〜" both give 81 60, "¥" gives 5C). nullopt when the
// text is not valid UTF-8 or holds a character that has no such form.
[[nodiscard]] std::optional<std::string> EncodeShiftJis(std::string_view utf8);

}  // namespace tessera

#pragma once

#include <string_view>

namespace tessera {

// The white space that separates numbers in typed text and plan lines: ASCII
// only, as stream extraction skips it in the classic locale (space, tab, LF,
// VT, FF, CR). A no-break space or a Unicode line separator is part of a
// token.
[[nodiscard]] constexpr bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Calls onToken for every run of characters between white space, in order;
// stops as soon as onToken returns false. False when it was stopped.
template <typename OnToken>
bool ForEachToken(std::string_view text, OnToken onToken)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsAsciiSpace(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsAsciiSpace(text[end]))
            ++end;
        if (!onToken(text.substr(i, end - i)))
            return false;
        i = end;
    }
    return true;
}

}  // namespace tessera

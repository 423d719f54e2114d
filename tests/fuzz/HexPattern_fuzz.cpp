// ParseHexPattern against a model, both spacings, and the pattern written
// back as hex.
#include <cctype>
#include <string>

#include "FuzzInput.h"
#include "plan/PatternSearch.h"
#include "plan/Tokens.h"

using namespace tessera;
using fuzz::Check;

namespace {

// The digits of text with the white space spacing allows removed; false when
// white space stands where it may not or a byte is no hex digit.
bool Digits(std::string_view text, HexSpacing spacing, std::string& digits)
{
    digits.clear();
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x80 && std::isxdigit(u)) {
            digits += c;
        } else if (!(spacing == HexSpacing::BetweenPairs && IsAsciiSpace(c) && digits.size() % 2 == 0)) {
            return false;
        }
    }
    return true;
}

void CheckOne(std::string_view text, HexSpacing spacing)
{
    const Planned<std::vector<std::uint8_t>> pattern = ParseHexPattern(text, spacing);
    std::string digits;
    const bool valid = Digits(text, spacing, digits) && digits.size() % 2 == 0 && !digits.empty();
    if (!valid) {
        Check(!pattern, "a pattern from text that is not pairs of hex digits");
        const Refusal why = pattern.error();
        if (why.reason == Reason::NotAHexDigit)
            Check(why.at < text.size() && why.token == text.substr(why.at, 1), "the refused byte");
        return;
    }
    Check(pattern.has_value(), "refused pairs of hex digits");
    Check(pattern->size() == digits.size() / 2, "pattern length");
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < pattern->size(); ++i) {
        Check(std::tolower(static_cast<unsigned char>(digits[2 * i])) == hex[(*pattern)[i] >> 4], "high digit");
        Check(std::tolower(static_cast<unsigned char>(digits[2 * i + 1])) == hex[(*pattern)[i] & 15], "low digit");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckOne(text, HexSpacing::None);
    CheckOne(text, HexSpacing::BetweenPairs);
    return 0;
}

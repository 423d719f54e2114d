// ParseHexPattern against a model, and the pattern written back as hex.
#include <cctype>
#include <string>

#include "FuzzInput.h"
#include "plan/PatternSearch.h"

using namespace tessera;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> pattern = ParseHexPattern(text);

    bool valid = text.size() % 2 == 0;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80 || !std::isxdigit(u))
            valid = false;
    }
    if (!valid) {
        Check(pattern.empty(), "a pattern from text that is not pairs of hex digits");
        return 0;
    }
    Check(pattern.size() == text.size() / 2, "pattern length");
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        Check(std::tolower(static_cast<unsigned char>(text[2 * i])) == digits[pattern[i] >> 4], "high digit");
        Check(std::tolower(static_cast<unsigned char>(text[2 * i + 1])) == digits[pattern[i] & 15], "low digit");
    }
    return 0;
}

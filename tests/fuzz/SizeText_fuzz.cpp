// ParseSize against a model written apart from it: the number in 128 bits,
// the suffix looked up by its spelling, the product checked against 2^63 - 1.
// A refusal must name the part of the text that does not parse.
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "plan/SizeText.h"

using namespace tessera;
using fuzz::Check;

namespace {

constexpr __int128 kMax = INT64_MAX;

// The multiplier a suffix stands for; 0 for no suffix known.
__int128 Multiplier(std::string_view suffix)
{
    static const char* const binary[] = {"K", "M", "G", "T", "P", "E"};
    static const char* const decimal[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    __int128 power = 1;
    for (int i = 0; i < 6; ++i) {
        power *= 1024;
        if (suffix == binary[i] || suffix == std::string(binary[i]) + "iB")
            return power;
    }
    power = 1;
    for (int i = 0; i < 6; ++i) {
        power *= 1000;
        if (suffix == decimal[i] || (i == 0 && suffix == "KB"))
            return power;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Planned<std::int64_t> parsed = ParseSize(text);

    if (text.empty()) {
        Check(parsed.reason() == Reason::Empty, "the empty text");
        return 0;
    }
    const bool hex = text.size() >= 2 && text[0] == '0' && text[1] == 'x';
    std::size_t end = hex ? 2 : 0;
    __int128 value = 0;
    bool tooLarge = false;
    while (end < text.size() && (hex ? fuzz::ModelHexValue(text[end]) >= 0 : (text[end] >= '0' && text[end] <= '9'))) {
        const int digit = hex ? fuzz::ModelHexValue(text[end]) : text[end] - '0';
        if (value != 0 || digit != 0)
        if (!tooLarge)
            value = value * (hex ? 16 : 10) + digit;
        if (value > kMax * 1024)
            tooLarge = true;
        ++end;
    }
    if (end == 0) {
        Check(parsed.reason() == Reason::NotANumber && parsed.error().token == text, "no digits");
        return 0;
    }
    // Hex takes at most 16 digits; neither hex nor decimal a value of 2^63
    // or more.
    if ((hex && end - 2 > 16) || tooLarge || value > kMax) {
        Check(parsed.reason() == Reason::TooLarge && parsed.error().token == text, "a number beyond 63 bits");
        return 0;
    }
    const std::string_view suffix = text.substr(end);
    __int128 multiplier = 1;
    if (!suffix.empty()) {
        multiplier = Multiplier(suffix);
        if (multiplier == 0) {
            const Refusal why = parsed.error();
            Check(why.reason == Reason::NotASizeSuffix, "an unknown suffix accepted");
            Check(why.token == suffix && why.at == end, "the suffix named");
            return 0;
        }
    }
    const __int128 product = value * multiplier;
    if (product > kMax) {
        Check(parsed.reason() == Reason::TooLarge && parsed.error().token == text, "past 2^63 - 1");
        return 0;
    }
    Check(parsed.has_value(), "refused a size the model reads");
    Check(*parsed == static_cast<std::int64_t>(product), "a different value");

    // The pair of two such sizes reads each half the same way.
    const std::string pairText = std::string(text) + ":" + std::string(text);
    const auto pair = ParseSizePair(pairText);
    Check(pair.has_value() && pair->first == *parsed && pair->second == *parsed, "the pair");
    return 0;
}

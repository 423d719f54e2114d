#include "SizeText.h"

#include <array>

#include "ParseNumber.h"

namespace tessera {

namespace {

struct Suffix {
    std::string_view text;
    int base;
    int power;
};

constexpr std::array kSuffixes{
    Suffix{"K", 1024, 1},  Suffix{"M", 1024, 2},  Suffix{"G", 1024, 3},  Suffix{"T", 1024, 4},
    Suffix{"P", 1024, 5},  Suffix{"E", 1024, 6},  Suffix{"KiB", 1024, 1}, Suffix{"MiB", 1024, 2},
    Suffix{"GiB", 1024, 3}, Suffix{"TiB", 1024, 4}, Suffix{"PiB", 1024, 5}, Suffix{"EiB", 1024, 6},
    Suffix{"kB", 1000, 1}, Suffix{"KB", 1000, 1}, Suffix{"MB", 1000, 2}, Suffix{"GB", 1000, 3},
    Suffix{"TB", 1000, 4}, Suffix{"PB", 1000, 5}, Suffix{"EB", 1000, 6},
};

// Decimal digits whose value passes 2^63 - 1, which the split list's parser
// would take as 2^63 - 1.
bool DecimalPastMax(std::string_view digits)
{
    constexpr std::string_view kMaxDigits = "9223372036854775807";
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string_view::npos)
        return false;
    digits.remove_prefix(first);
    return digits.size() > kMaxDigits.size() || (digits.size() == kMaxDigits.size() && digits > kMaxDigits);
}

}  // namespace

Planned<std::int64_t> ParseSize(std::string_view text)
{
    if (text.empty())
        return Refuse(Reason::Empty);
    const bool hex = text.starts_with("0x");
    std::size_t digits = hex ? 2 : 0;
    while (digits < text.size()) {
        const auto byte = static_cast<unsigned char>(text[digits]);
        if (hex ? kHexDigits[byte] < 0 : (byte < '0' || byte > '9'))
            break;
        ++digits;
    }
    if (digits == 0)
        return Refuse(Reason::NotANumber, text);
    const std::int64_t number = ParseNumber(text.substr(0, digits));
    if (number < 0 || (!hex && DecimalPastMax(text.substr(0, digits)))) {
        // "0x" with more than 16 digits, or 16 starting with 8-f, or more
        // than 2^63 - 1 in decimal.
        return Refuse(Reason::TooLarge, text);
    }
    const std::string_view suffix = text.substr(digits);
    if (suffix.empty())
        return number;
    for (const Suffix& s : kSuffixes) {
        if (s.text != suffix)
            continue;
        std::int64_t value = number;
        for (int i = 0; i < s.power; ++i) {
            if (__builtin_mul_overflow(value, std::int64_t{s.base}, &value))
                return Refuse(Reason::TooLarge, text);
        }
        return value;
    }
    return Refuse(Reason::NotASizeSuffix, suffix, digits);
}

Planned<std::pair<std::int64_t, std::int64_t>> ParseSizePair(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return Refuse(Reason::NotANumber, text);
    const Planned<std::int64_t> a = ParseSize(text.substr(0, colon));
    if (!a)
        return a.error();
    Planned<std::int64_t> b = ParseSize(text.substr(colon + 1));
    if (!b) {
        Refusal why = b.error();
        why.at += colon + 1;
        return why;
    }
    return std::pair{*a, *b};
}

}  // namespace tessera

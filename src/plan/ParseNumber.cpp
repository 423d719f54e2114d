#include "ParseNumber.h"

#include <limits>

#include <boost/lexical_cast.hpp>

namespace tessera {

#define TESSERA_NO16 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1
const std::int8_t kHexDigits[256] = {
    TESSERA_NO16,                                                   // 0x00
    TESSERA_NO16,                                                   // 0x10
    TESSERA_NO16,                                                   // 0x20
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -1, -1, -1, -1, -1,           // 0x30 '0'-'9'
    -1, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, // 0x40 'A'-'F'
    TESSERA_NO16,                                                   // 0x50
    -1, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, // 0x60 'a'-'f'
    TESSERA_NO16,                                                   // 0x70
    TESSERA_NO16, TESSERA_NO16, TESSERA_NO16, TESSERA_NO16,         // 0x80-0xBF
    TESSERA_NO16, TESSERA_NO16, TESSERA_NO16, TESSERA_NO16,         // 0xC0-0xFF
};
#undef TESSERA_NO16

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

std::int64_t ParseHex(std::string_view digits)
{
    if (digits.size() > 16)
        return -1;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = kHexDigits[static_cast<unsigned char>(c)];
        if (digit < 0)
            return -1;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    // Sixteen digits starting with 8-f land in the negative half on purpose:
    // every caller refuses a negative number.
    return static_cast<std::int64_t>(value);
}

std::int64_t ParseDecimal(std::string_view text)
{
    if (text.empty())
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    // Leading zeros carry no value; more than 19 significant digits are always
    // above 2^63 - 1, whatever the conversion below would make of them.
    const std::size_t first = text.find_first_not_of('0');
    if (first == std::string_view::npos)
        return 0;
    text.remove_prefix(first);
    if (text.size() > 19)
        return kMax;
    try {
        return boost::lexical_cast<std::int64_t>(text.data(), text.size());
    } catch (const boost::bad_lexical_cast&) {
        // Only an all-digit text of 19 digits above 2^63 - 1 gets here.
        return kMax;
    }
}

}  // namespace

std::int64_t ParseNumber(std::string_view text)
{
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x')
        return ParseHex(text.substr(2));
    return ParseDecimal(text);
}

Planned<std::int64_t> ParseFieldNumber(std::string_view text)
{
    if (text.empty())
        return Refuse(Reason::Empty);
    const std::int64_t value = ParseNumber(text);
    if (value < 0)
        return Refuse(Reason::NotANumber, text);
    return value;
}

}  // namespace tessera

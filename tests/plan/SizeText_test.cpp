#include "plan/SizeText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace tessera {
namespace {

// The value, or the reason with the part of the text it names.
std::string Show(const Planned<std::int64_t>& size)
{
    if (size)
        return std::to_string(*size);
    const Refusal why = size.error();
    return std::string(ReasonName(why.reason)) + (why.token.empty() ? "" : " '" + why.token + "'");
}

TEST(ParseSize, Table)
{
    const std::pair<const char*, std::string> cases[] = {
        {"0", "0"},
        {"700", "700"},
        {"0x1F", "31"},
        {"0x", "0"},
        {"1K", "1024"},
        {"1KiB", "1024"},
        {"1kB", "1000"},
        {"1KB", "1000"},
        {"700M", std::to_string(700LL << 20)},
        {"4G", std::to_string(4LL << 30)},
        {"2T", std::to_string(2LL << 40)},
        {"1E", std::to_string(1LL << 60)},
        {"7E", std::to_string(7LL << 60)},
        {"1MB", "1000000"},
        {"0x10M", std::to_string(16LL << 20)},
        {"0x1E", "30"},
        {"0x1EB", std::to_string(0x1EB)},
        {"9223372036854775807", std::to_string(LLONG_MAX)},
        {"0009223372036854775807", std::to_string(LLONG_MAX)},
        // refused, naming the part that does not parse
        {"", "Empty"},
        {"K", "NotANumber 'K'"},
        {"-1", "NotANumber '-1'"},
        {" 1", "NotANumber ' 1'"},
        {"1m", "NotASizeSuffix 'm'"},
        {"1k", "NotASizeSuffix 'k'"},
        {"1 K", "NotASizeSuffix ' K'"},
        {"1.5M", "NotASizeSuffix '.5M'"},
        {"1KK", "NotASizeSuffix 'KK'"},
        {"0X10", "NotASizeSuffix 'X10'"},
        {"8E", "TooLarge '8E'"},
        {"16E", "TooLarge '16E'"},
        {"99999999999999999999K", "TooLarge '99999999999999999999K'"},
        // Past 2^63 - 1 in decimal too, where the split list's parser would
        // take the largest value.
        {"9223372036854775808", "TooLarge '9223372036854775808'"},
        {"18446744073709551616", "TooLarge '18446744073709551616'"},
        {"0x8000000000000000", "TooLarge '0x8000000000000000'"},
        {"0x10000000000000000", "TooLarge '0x10000000000000000'"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Show(ParseSize(text)), expected) << '"' << text << '"';
}

TEST(ParseSizePair, HalvesAndTheirOffsets)
{
    const auto pair = ParseSizePair("1K:0x10");
    ASSERT_TRUE(pair);
    EXPECT_EQ(*pair, (std::pair<std::int64_t, std::int64_t>{1024, 16}));
    EXPECT_EQ(ParseSizePair("10").error(), Refuse(Reason::NotANumber, "10"));
    EXPECT_EQ(ParseSizePair("10:").error(), Refuse(Reason::Empty, "", 3));
    EXPECT_EQ(ParseSizePair("10:5q").error(), Refuse(Reason::NotASizeSuffix, "q", 4));
    EXPECT_EQ(ParseSizePair("9E:0").error(), Refuse(Reason::TooLarge, "9E", 0));
}

}  // namespace
}  // namespace tessera

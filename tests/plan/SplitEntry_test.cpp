#include "plan/ParseNumber.h"
#include "plan/SplitEntry.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>
#include <string>

namespace tessera {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

struct NumberCase {
    std::string text;
    std::int64_t value;  // kNegative: any negative value
};
constexpr std::int64_t kNegative = std::numeric_limits<std::int64_t>::min();

TEST(ParseNumber, Table)
{
    const NumberCase cases[] = {
        // decimal
        {"0", 0},
        {"007", 7},
        {"1000000", 1000000},
        {"9223372036854775807", kMax},
        {"009223372036854775807", kMax},
        {"0000000000000000000000000000000000000042", 42},
        {"00000000000000000000000", 0},
        // the overflow rule: anything above 2^63 - 1 gives 2^63 - 1
        {"9223372036854775808", kMax},
        {"9999999999999999999", kMax},
        {"18446744073709551615", kMax},
        {"18446744073709551616", kMax},
        {"99999999999999999999", kMax},
        {std::string(400, '9'), kMax},
        // not decimal
        {"", -1},
        {" ", -1},
        {" 1", -1},
        {"1 ", -1},
        {"+1", -1},
        {"-1", -1},
        {"-0", -1},
        {"1,000", -1},
        {"1e3", -1},
        {"1.5", -1},
        {"\xef\xbc\x91", -1},  // full-width 1
        {std::string("1\0", 2), -1},
        {"12k", -1},
        // hexadecimal
        {"0x1F", 31},
        {"0x1f", 31},
        {"0x001F", 31},
        {"0x", 0},
        {"0x0", 0},
        {"0x7FFFFFFFFFFFFFFF", kMax},
        {"0x7fffffffffffffff", kMax},
        {"0x8000000000000000", kNegative},
        {"0xFFFFFFFFFFFFFFFF", kNegative},
        {"0x0000000000000001", 1},
        {"0x00000000000000001", -1},  // 17 digits, even with a value of 1
        {"0x00000000000000000", -1},
        {"0X1F", -1},
        {"00x1F", -1},
        {"0x1G", -1},
        {"0x 1F", -1},
        {"0x1 F", -1},
        {"0x1F ", -1},
        {" 0x1F", -1},
        {"0x-1", -1},
        {"0x0x1", -1},
        {"0x\xff", -1},  // no sign extension of a byte above 0x7F into a digit
    };
    for (const NumberCase& c : cases) {
        const std::int64_t got = ParseNumber(c.text);
        if (c.value == kNegative)
            EXPECT_LT(got, 0) << '"' << c.text << '"';
        else
            EXPECT_EQ(got, c.value) << '"' << c.text << '"';
    }
}

TEST(ParseNumber, EveryDecimalAroundTheLimitSaturates)
{
    // 2^63 - 1 + k for the last few digits: the boundary must be exact.
    EXPECT_EQ(ParseNumber("9223372036854775806"), kMax - 1);
    for (int last = 7; last <= 9; ++last)
        EXPECT_EQ(ParseNumber("922337203685477580" + std::to_string(last)), kMax) << last;
    EXPECT_EQ(ParseNumber("9223372036854775810"), kMax);
    EXPECT_EQ(ParseNumber("9300000000000000000"), kMax);
}

TEST(HexDigits, WholeTable)
{
    for (int b = 0; b < 256; ++b) {
        int expected = -1;
        if (b >= '0' && b <= '9')
            expected = b - '0';
        else if (b >= 'a' && b <= 'f')
            expected = b - 'a' + 10;
        else if (b >= 'A' && b <= 'F')
            expected = b - 'A' + 10;
        EXPECT_EQ(kHexDigits[b], expected) << b;
    }
}

TEST(FormatEntry, PlainDecimal)
{
    EXPECT_EQ(FormatEntry(0, 1000000), "0 1000000");
    EXPECT_EQ(FormatEntry(4096, 4096), "4096 4096");
    EXPECT_EQ(FormatEntry(0, 0), "0 0");
    EXPECT_EQ(FormatEntry(kMax, kMax), "9223372036854775807 9223372036854775807");
    EXPECT_EQ(FormatEntry(SplitEntry{5000000000, 6000000000}), "5000000000 6000000000");
}

// A locale that groups digits in threes with a comma, as many user locales do.
struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
};

class GroupingLocale : public ::testing::Test {
protected:
    void SetUp() override { saved_ = std::locale::global(std::locale(std::locale::classic(), new Grouping)); }
    void TearDown() override { std::locale::global(saved_); }
    std::locale saved_;
};

// The line must not pick up the process locale's digit grouping.
TEST_F(GroupingLocale, FormatAndReadIgnoreTheGlobalLocale)
{
    EXPECT_EQ(FormatEntry(1234567, 7654321), "1234567 7654321");
    SplitEntry e;
    ASSERT_TRUE(ReadEntry("1234567 7654321", e));
    EXPECT_EQ(e, (SplitEntry{1234567, 7654321}));
}

TEST(ReadEntry, RoundTrip)
{
    const SplitEntry entries[] = {
        {0, 0}, {0, 1000000}, {4096, 4096}, {4294967295, 4294967296}, {kMax - 1, kMax}, {kMax, kMax},
    };
    for (const SplitEntry& in : entries) {
        SplitEntry out{-5, -5};
        ASSERT_TRUE(ReadEntry(FormatEntry(in), out)) << FormatEntry(in);
        EXPECT_EQ(out, in) << FormatEntry(in);
    }
}

TEST(ReadEntry, RefusesLinesWithoutTwoNumbers)
{
    SplitEntry e{1, 2};
    for (const char* line : {"", " ", "10", "10 ", "x 10", "10 x", "99999999999999999999 1"}) {
        EXPECT_FALSE(ReadEntry(line, e)) << '"' << line << '"';
        EXPECT_EQ(e, (SplitEntry{1, 2})) << "a refused line leaves the entry alone";
    }
    ASSERT_TRUE(ReadEntry("  \t7   9", e));
    EXPECT_EQ(e, (SplitEntry{7, 9}));
}

}  // namespace
}  // namespace tessera

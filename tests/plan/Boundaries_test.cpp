#include "plan/Boundaries.h"

#include <gtest/gtest.h>

#include <string>

#include "plan/SizeText.h"

namespace tessera {
namespace {

constexpr std::size_t kRoom = kMaxSplitLines;

std::string Show(const std::vector<SplitEntry>& entries)
{
    std::string s;
    for (const SplitEntry& e : entries)
        s += "(" + FormatEntry(e) + ")";
    return s;
}

// The entries, or the reason, the token and its offset.
std::string Show(const Planned<std::vector<SplitEntry>>& entries)
{
    if (entries)
        return Show(*entries);
    const Refusal why = entries.error();
    std::string s = "refused: " + std::string(ReasonName(why.reason));
    if (!why.token.empty())
        s += " '" + why.token + "' at " + std::to_string(why.at);
    return s;
}

TEST(BoundariesToEntries, SortsDropsRepeatsAndCloses)
{
    EXPECT_EQ(Show(BoundariesToEntries({}, 1000)), "(0 1000)");
    EXPECT_EQ(Show(BoundariesToEntries({700, 300, 300, 500}, 1000)), "(0 300)(300 500)(500 700)(700 1000)");
    EXPECT_EQ(Show(BoundariesToEntries({0, 1000, 0, 1000}, 1000)), "(0 1000)");
    EXPECT_EQ(Show(BoundariesToEntries({2, 6, 2}, 10)), "(0 2)(2 6)(6 10)");
    EXPECT_EQ(Show(BoundariesToEntries({0, 2}, 4)), "(0 2)(2 4)");
    EXPECT_EQ(Show(BoundariesToEntries({}, 0)), "");
    EXPECT_EQ(Show(BoundariesToEntries({0}, 0)), "");
}

struct Case {
    std::string text;
    std::int64_t size;
    std::string expected;  // "refused: ..." when nothing may be added
};

TEST(PlanBoundaries, Table)
{
    const Case cases[] = {
        {"300", 1000, "(0 300)(300 1000)"},
        {"700\r\n300\r\n300 500", 1000, "(0 300)(300 500)(500 700)(700 1000)"},
        {"0x12C", 1000, "(0 300)(300 1000)"},
        {"0x12c", 1000, "(0 300)(300 1000)"},
        {"0 1000", 1000, "(0 1000)"},
        {"1000", 1000, "(0 1000)"},
        {"100\t200\r\n\r\n\r\n300", 1000, "(0 100)(100 200)(200 300)(300 1000)"},
        {" \v\f 300 \n", 1000, "(0 300)(300 1000)"},
        // all or nothing
        {"1001", 1000, "refused: BeyondEnd '1001' at 0"},
        {"300 1001", 1000, "refused: BeyondEnd '1001' at 4"},
        {"300 abc", 1000, "refused: NotANumber 'abc' at 4"},
        {"abc 300", 1000, "refused: NotANumber 'abc' at 0"},
        {"0X12C", 1000, "refused: NotANumber '0X12C' at 0"},
        {"-5", 1000, "refused: NotANumber '-5' at 0"},
        {"+5", 1000, "refused: NotANumber '+5' at 0"},
        {"1.5", 1000, "refused: NotANumber '1.5' at 0"},
        {"12k", 1000, "refused: NotANumber '12k' at 0"},
        {"99999999999999999999", 1000, "refused: BeyondEnd '99999999999999999999' at 0"},  // saturates to 2^63 - 1, beyond the file
        {"0x8000000000000000", 1000, "refused: NotANumber '0x8000000000000000' at 0"},
        {"100 0xffffffffffffffff 200", 1000, "refused: NotANumber '0xffffffffffffffff' at 4"},
        {"100 200 0xf000000000000000", 1000, "refused: NotANumber '0xf000000000000000' at 8"},
        {"300\xe3\x80\x80" "400", 1000, "refused: NotANumber '300\xe3\x80\x80" "400' at 0"},  // a full-width space belongs to the token
        // an empty source
        {"0", 0, ""},
        {"1", 0, "refused: BeyondEnd '1' at 0"},
        // no source at all
        {"300", -1, "refused: NoSource"},
        {"", -1, "refused: NoSource"},
        // no token: nothing, but not a failure
        {"", 1000, ""},
        {" \t\r\n", 1000, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Show(PlanBoundaries(c.text, c.size, kRoom)), c.expected) << '"' << c.text << "\" " << c.size;
}

TEST(PlanBoundaries, RoomCountsEntriesNotTokens)
{
    // Four distinct cuts in a 1000-byte file make five entries.
    EXPECT_EQ(PlanBoundaries("100 200 300 400", 1000, 5)->size(), 5u);
    EXPECT_EQ(PlanBoundaries("100 200 300 400", 1000, 4).reason(), Reason::TooManyLines);
    // Repeats and the ends of the file add no entry of their own.
    EXPECT_EQ(PlanBoundaries("0 100 100 100 1000", 1000, 2)->size(), 2u);
    // A token refused anywhere refuses the lot even when room is short.
    EXPECT_EQ(PlanBoundaries("x", 1000, 0).reason(), Reason::NotANumber);
}

// The command line's offsets: the same tool with the size parser passed in.
TEST(PlanBoundaries, SizeParserPassedIn)
{
    EXPECT_EQ(Show(PlanBoundaries("1K 0x10 2kB", 4096, kRoom, ParseSize)), "(0 16)(16 1024)(1024 2000)(2000 4096)");
    EXPECT_EQ(Show(PlanBoundaries("1K 4K1", 8192, kRoom, ParseSize)), "refused: NotASizeSuffix 'K1' at 3");
    EXPECT_EQ(Show(PlanBoundaries("8K", 8191, kRoom, ParseSize)), "refused: BeyondEnd '8K' at 0");
    // the window's field takes no suffix
    EXPECT_EQ(Show(PlanBoundaries("1K", 4096, kRoom)), "refused: NotANumber '1K' at 0");
}

}  // namespace
}  // namespace tessera

#include "plan/Boundaries.h"

#include <gtest/gtest.h>

#include <string>

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

std::string Show(const std::optional<std::vector<SplitEntry>>& entries)
{
    return entries ? Show(*entries) : "refused";
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
    const char* expected;  // "refused" when nothing may be added
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
        {"1001", 1000, "refused"},
        {"300 1001", 1000, "refused"},
        {"300 abc", 1000, "refused"},
        {"abc 300", 1000, "refused"},
        {"0X12C", 1000, "refused"},
        {"-5", 1000, "refused"},
        {"+5", 1000, "refused"},
        {"1.5", 1000, "refused"},
        {"12k", 1000, "refused"},
        {"99999999999999999999", 1000, "refused"},  // saturates to 2^63 - 1, beyond the file
        {"0x8000000000000000", 1000, "refused"},
        {"100 0xffffffffffffffff 200", 1000, "refused"},
        {"100 200 0xf000000000000000", 1000, "refused"},
        {"300\xe3\x80\x80" "400", 1000, "refused"},  // a full-width space belongs to the token
        // an empty source
        {"0", 0, ""},
        {"1", 0, "refused"},
        // no source at all
        {"300", -1, "refused"},
        {"", -1, "refused"},
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
    EXPECT_FALSE(PlanBoundaries("100 200 300 400", 1000, 4));
    // Repeats and the ends of the file add no entry of their own.
    EXPECT_EQ(PlanBoundaries("0 100 100 100 1000", 1000, 2)->size(), 2u);
    // A token refused anywhere refuses the lot even when room is short.
    EXPECT_FALSE(PlanBoundaries("x", 1000, 0));
}

}  // namespace
}  // namespace tessera

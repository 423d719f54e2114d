#include "plan/RangeBuilders.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace tessera {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kRoom = kMaxSplitLines;

std::string Show(const std::vector<SplitEntry>& entries)
{
    std::string s;
    for (const SplitEntry& e : entries)
        s += "(" + FormatEntry(e) + ")";
    return s;
}

std::string Show(const Planned<std::vector<SplitEntry>>& entries)
{
    return entries ? Show(*entries) : "refused: " + std::string(ReasonName(entries.reason()));
}

std::string Show(const Planned<SplitEntry>& entry)
{
    return entry ? FormatEntry(*entry) : "refused: " + std::string(ReasonName(entry.reason()));
}

// The entries of a plan that must be made.
std::vector<SplitEntry> Made(const Planned<std::vector<SplitEntry>>& entries)
{
    EXPECT_TRUE(entries) << ReasonName(entries.reason());
    return entries ? *entries : std::vector<SplitEntry>{};
}

struct SingleCase {
    std::int64_t size, a, b;
    const char* expected;
};

TEST(PlanExtract, Table)
{
    const SingleCase cases[] = {
        {100, 10, 20, "10 30"},
        {100, 100, 0, "100 100"},
        {100, 90, 10, "90 100"},
        {100, 90, 11, "refused: BeyondEnd"},
        {100, 101, 0, "refused: BeyondEnd"},
        {100, 0, 100, "0 100"},
        {0, 0, 0, "0 0"},
        {-1, 0, 0, "refused: NoSource"},
        {100, -1, 10, "refused: NotANumber"},
        {100, 10, -1, "refused: NotANumber"},
        // the sum is taken exactly: past 2^63 - 1 it lies beyond the end
        {kMax, 1, kMax, "refused: BeyondEnd"},
        {kMax, kMax, 1, "refused: BeyondEnd"},
        {kMax, kMax, 0, "9223372036854775807 9223372036854775807"},
        {kMax, 1, kMax - 1, "1 9223372036854775807"},
    };
    for (const SingleCase& c : cases)
        EXPECT_EQ(Show(PlanExtract(c.size, c.a, c.b)), c.expected) << c.size << " " << c.a << " " << c.b;
}

TEST(PlanRange, Table)
{
    const SingleCase cases[] = {
        {100, 10, 20, "10 20"}, {100, 20, 20, "20 20"},   {100, 30, 20, "refused: StartAfterEnd"}, {100, 0, 100, "0 100"},
        {100, 0, 101, "refused: BeyondEnd"}, {100, 101, 101, "refused: BeyondEnd"}, {100, -1, 20, "refused: NotANumber"}, {100, 10, -1, "refused: NotANumber"},
        {0, 0, 0, "0 0"},         {-1, 0, 0, "refused: NoSource"},
    };
    for (const SingleCase& c : cases)
        EXPECT_EQ(Show(PlanRange(c.size, c.a, c.b)), c.expected) << c.size << " " << c.a << " " << c.b;
}

struct ListCase {
    std::int64_t size, n;
    const char* expected;
};

TEST(PlanFixedSize, Table)
{
    const ListCase cases[] = {
        {100, 30, "(0 30)(30 60)(60 90)(90 100)"},
        {100, 50, "(0 50)(50 100)"},
        {100, 100, "(0 100)"},
        {100, 1000, "(0 100)"},
        {100, kMax, "(0 100)"},
        {3, 1, "(0 1)(1 2)(2 3)"},
        {100, 0, "refused: Zero"},  // would never reach the end
        {100, -1, "refused: NotANumber"},
        {0, 10, ""},
        {-1, 10, "refused: NoSource"},
        // the last piece end is capped at size before k * piece can overflow
        {kMax, kMax / 2 + 1, "(0 4611686018427387904)(4611686018427387904 9223372036854775807)"},
    };
    for (const ListCase& c : cases)
        EXPECT_EQ(Show(PlanFixedSize(c.size, c.n, kRoom)), c.expected) << c.size << " " << c.n;
}

TEST(PlanEqualSplit, Table)
{
    const ListCase cases[] = {
        {100, 3, "(0 34)(34 68)(68 100)"},
        {100, 4, "(0 25)(25 50)(50 75)(75 100)"},
        {100, 1, "(0 100)"},
        {10, 4, "(0 3)(3 6)(6 9)(9 10)"},
        {10, 6, "(0 2)(2 4)(4 6)(6 8)(8 10)(10 10)"},
        // pieces that would start beyond the file become (size, size)
        {10, 7, "(0 2)(2 4)(4 6)(6 8)(8 10)(10 10)(10 10)"},
        {1, 3, "(0 1)(1 1)(1 1)"},
        {0, 3, "(0 0)(0 0)(0 0)"},
        {100, 0, "refused: Zero"},
        {100, -1, "refused: NotANumber"},
        {-1, 3, "refused: NoSource"},
        // (k + 1) * chunk passes 2^63 - 1 here; it must be capped, not wrap
        {kMax, 3, "(0 3074457345618258603)(3074457345618258603 6148914691236517206)"
                  "(6148914691236517206 9223372036854775807)"},
    };
    for (const ListCase& c : cases)
        EXPECT_EQ(Show(PlanEqualSplit(c.size, static_cast<std::int32_t>(c.n), kRoom)), c.expected)
            << c.size << " " << c.n;
}

TEST(NarrowPieceCount, LowThirtyTwoBitsAsSigned)
{
    EXPECT_EQ(NarrowPieceCount(3), 3);
    EXPECT_EQ(NarrowPieceCount(4294967297), 1);           // 2^32 + 1
    EXPECT_EQ(NarrowPieceCount(4294967296), 0);           // 2^32
    EXPECT_LT(NarrowPieceCount(2147483648), 0);           // 2^31
    EXPECT_LT(NarrowPieceCount(4294967295), 0);           // 2^32 - 1
    EXPECT_EQ(NarrowPieceCount(2147483647), 2147483647);  // 2^31 - 1
    EXPECT_EQ(NarrowPieceCount(-1), -1);
    // End to end: a typed 2^32 + 1 splits into one piece, 2^32 and 2^31 add nothing.
    EXPECT_EQ(Show(PlanEqualSplit(100, NarrowPieceCount(4294967297), kRoom)), "(0 100)");
    EXPECT_EQ(PlanEqualSplit(100, NarrowPieceCount(4294967296), kRoom).reason(), Reason::Zero);
    EXPECT_EQ(PlanEqualSplit(100, NarrowPieceCount(2147483648), kRoom).reason(), Reason::NotANumber);
}

// Every size 0..64 and count 1..10: the pieces are contiguous, start at 0, end
// at size, and are never inverted; fixed-size pieces are full but the last.
TEST(RangeBuilders, WholeSmallDomainCoversTheFile)
{
    for (std::int64_t size = 0; size <= 64; ++size) {
        for (std::int32_t n = 1; n <= 10; ++n) {
            const std::string where = std::to_string(size) + " / " + std::to_string(n);

            const std::vector<SplitEntry> equal = Made(PlanEqualSplit(size, n, kRoom));
            ASSERT_EQ(equal.size(), static_cast<std::size_t>(n)) << where;
            const std::int64_t chunk = (size + n - 1) / n;
            std::int64_t at = 0;
            for (const SplitEntry& e : equal) {
                EXPECT_EQ(e.start, at) << where;
                EXPECT_LE(e.start, e.end) << where;
                EXPECT_LE(e.end - e.start, chunk) << where;
                at = e.end;
            }
            EXPECT_EQ(at, size) << where;

            const std::vector<SplitEntry> fixed = Made(PlanFixedSize(size, n, kRoom));
            if (size == 0) {
                EXPECT_TRUE(fixed.empty()) << where;
                continue;
            }
            ASSERT_EQ(fixed.size(), static_cast<std::size_t>((size + n - 1) / n)) << where;
            at = 0;
            for (std::size_t k = 0; k < fixed.size(); ++k) {
                EXPECT_EQ(fixed[k].start, at) << where;
                if (k + 1 < fixed.size())
                    EXPECT_EQ(fixed[k].end - fixed[k].start, n) << where;
                else
                    EXPECT_GT(fixed[k].end, fixed[k].start) << where;
                at = fixed[k].end;
            }
            EXPECT_EQ(at, size) << where;
        }
    }
}

// A plan larger than the room left in the list is refused before anything is
// built: 2^31 - 1 pieces must not try to allocate 32 GiB first.
TEST(RangeBuilders, RoomBoundsThePlan)
{
    EXPECT_EQ(PlanEqualSplit(1000, std::numeric_limits<std::int32_t>::max(), kRoom).reason(), Reason::TooManyLines);
    EXPECT_EQ(PlanEqualSplit(kMax, std::numeric_limits<std::int32_t>::max(), kRoom).reason(), Reason::TooManyLines);
    EXPECT_EQ(PlanFixedSize(kMax, 1, kRoom).reason(), Reason::TooManyLines);

    EXPECT_EQ(Made(PlanEqualSplit(1000, 5, 5)).size(), 5u);
    EXPECT_EQ(PlanEqualSplit(1000, 5, 4).reason(), Reason::TooManyLines);
    EXPECT_EQ(PlanEqualSplit(1000, 1, 0).reason(), Reason::TooManyLines);
    EXPECT_EQ(Made(PlanFixedSize(1000, 100, 10)).size(), 10u);
    EXPECT_EQ(PlanFixedSize(1000, 100, 9).reason(), Reason::TooManyLines);
    EXPECT_EQ(Made(PlanFixedSize(1001, 100, 11)).size(), 11u);
    EXPECT_EQ(PlanFixedSize(1001, 100, 10).reason(), Reason::TooManyLines);

    const std::vector<SplitEntry> million = Made(PlanEqualSplit(1'000'000, 1'000'000, kRoom));
    ASSERT_EQ(million.size(), 1'000'000u);
    EXPECT_EQ(million.back(), (SplitEntry{999'999, 1'000'000}));
}

}  // namespace
}  // namespace tessera

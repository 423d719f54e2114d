#include "plan/PlanBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessera {
namespace {

// The extract tool's place in a plan, as text: after every line not greater
// than its own, so "10 20" goes above "9 10"; the plan's room is checked
// only for an entry that can be had at all.
TEST(PlanBuilder, ExtractTakesItsPlaceInTextOrder)
{
    const struct {
        std::vector<std::string> lines;
        std::int64_t offset, length;
        std::size_t row;
    } rows[] = {
        {{}, 0, 1, 0},
        {{"9 10"}, 10, 10, 0},
        {{"10 20", "9 10"}, 100, 0, 1},
        {{"0 1", "0 1"}, 0, 1, 2},  // after equal lines
        {{"1 2", "3 4"}, 5, 1, 2},
        {{"1 5", "10 5"}, 1, 8, 1},
    };
    for (const auto& row : rows) {
        const auto lineAt = [&](std::size_t i) { return row.lines[i]; };
        const Planned<PlacedEntry> placed = PlaceExtract(row.lines.size(), lineAt, 1000, row.offset, row.length);
        ASSERT_TRUE(placed) << row.offset;
        EXPECT_EQ(placed->row, row.row) << row.offset << " " << row.length;
        EXPECT_EQ(placed->entry, (SplitEntry{row.offset, row.offset + row.length}));
    }
}

TEST(PlanBuilder, AFullPlanTakesNoMoreOfOneEntry)
{
    EXPECT_EQ(PlanRoom(0), kMaxSplitLines);
    EXPECT_EQ(PlanRoom(kMaxSplitLines - 1), 1u);
    EXPECT_EQ(PlanRoom(kMaxSplitLines), 0u);
    EXPECT_EQ(PlanRoom(kMaxSplitLines + 5), 0u);
    const auto none = [](std::size_t) -> std::string { return "0 1"; };
    EXPECT_TRUE(PlaceExtract(kMaxSplitLines - 1, none, 10, 0, 1));
    EXPECT_EQ(PlaceExtract(kMaxSplitLines, none, 10, 0, 1).reason(), Reason::TooManyLines);
    EXPECT_EQ(PlaceExtract(kMaxSplitLines, none, 10, 5, 6).reason(), Reason::BeyondEnd);
    EXPECT_TRUE(AppendRange(kMaxSplitLines - 1, 10, 0, 10));
    EXPECT_EQ(AppendRange(kMaxSplitLines, 10, 0, 10).reason(), Reason::TooManyLines);
    EXPECT_EQ(AppendRange(kMaxSplitLines, 10, 5, 4).reason(), Reason::StartAfterEnd);
    EXPECT_EQ(*AppendRange(0, 10, 3, 7), (SplitEntry{3, 7}));
}

}  // namespace
}  // namespace tessera

#include "ControlIndex.h"

#include <gtest/gtest.h>

namespace {

TEST(ControlStates, RunningLeavesOnlyAbort)
{
    const ControlStates running = ControlStatesFor(false);
    for (int b = 0; b < kButtonCount; ++b)
        EXPECT_EQ(running.buttons[b], b == kButtonAbort) << b;
    for (int e = 0; e < kEditCount; ++e)
        EXPECT_FALSE(running.edits[e]) << e;
    EXPECT_FALSE(running.lists[kListSplit]);
    EXPECT_FALSE(running.lists[kListJoin]);
}

TEST(ControlStates, IdleEnablesAllButAbortAndTheTwoPathFields)
{
    const ControlStates idle = ControlStatesFor(true);
    for (int b = 0; b < kButtonCount; ++b)
        EXPECT_EQ(idle.buttons[b], b != kButtonAbort) << b;
    for (int e = 0; e < kEditCount; ++e)
        EXPECT_EQ(idle.edits[e], e != kEditSource && e != kEditJoinDestination) << e;
    EXPECT_TRUE(idle.lists[kListSplit]);
    EXPECT_TRUE(idle.lists[kListJoin]);
}

}  // namespace

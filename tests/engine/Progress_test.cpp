#include "engine/Job.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using tessera::ControlStatesFor;
using tessera::ProgressPosition;

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

TEST(ProgressPosition, ClampsScalesAndTruncates)
{
    struct Row {
        float fraction;
        int position;
    } rows[] = {
        {0.0f, 0},
        {0.5f, 32768},
        {1.0f, 65536},
        {1.5f, 65536},
        {std::numeric_limits<float>::infinity(), 65536},
        {-0.25f, 0},
        {-std::numeric_limits<float>::infinity(), 0},
        {std::nanf(""), 0},
        {1.0f / 65536.0f, 1},
        {0.99999f, 65535},  // truncated, not rounded
        {1e-6f, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ProgressPosition(r.fraction), r.position) << r.fraction;
}

}  // namespace

#include "engine/Progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using tessera::ProgressPosition;

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

// The console's estimate of the time left follows the real rate without jumping.
#include "cli/ProgressEstimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

TEST(ProgressEstimateTest, GlidesOverABurstAndAStall)
{
    // 200 KB at 10 KB/s, a figure every 0.1 s: the first 0.5 s deliver 20 KB
    // at once from the buffers, and the line stalls from 10 s to 12 s (the
    // receiver busy between modules). The whole transfer takes 20.5 s.
    constexpr std::int64_t kTotal = 200000;
    constexpr double kTrueTotal = 20.5;
    CProgressEstimate estimate;
    std::int64_t done = 0;
    std::optional<double> previous;
    double largestStep = 0, beforeStall = 0, highest = 0;
    for (int tick = 0; tick <= 210; ++tick)
    {
        const double seconds = tick * 0.1;
        if (tick > 0 && !(seconds > 10.05 && seconds < 12.05))
            done = std::min(done + (seconds <= 0.55 ? 4000 : 1000), kTotal);
        const auto remaining = estimate.Update(seconds, done, kTotal);
        if (seconds < CProgressEstimate::kMinEvidenceSeconds)
        {
            EXPECT_FALSE(remaining) << "a figure before a second of evidence, at " << seconds << " s";
            continue;
        }
        ASSERT_TRUE(remaining) << seconds;
        const double total = seconds + *remaining;
        if (previous)
            largestStep = std::max(largestStep, std::abs(total - *previous));
        previous = total;
        if (tick == 100)
            beforeStall = total;
        if (tick >= 100)
            highest = std::max(highest, total);
        if (tick == 95)
        {
            EXPECT_NEAR(total, kTrueTotal - 2.0, 2.0) << "before the stall";
        }
    }
    EXPECT_LT(largestStep, 0.65) << "the shown total jumped in a tenth of a second";
    EXPECT_LT(highest - beforeStall, 6.0) << "a 2 s stall pushed the estimate out by " << highest - beforeStall;
}

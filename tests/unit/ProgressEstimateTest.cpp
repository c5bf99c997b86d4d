// The console's estimate of the time left follows the real rate without jumping.
#include "cli/ProgressEstimate.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ProgressEstimateTest, GlidesFromABurstToTheSteadyRate)
{
    // A 20 s transfer of 200 KB at 10 KB/s, except that the first 0.5 s
    // deliver 20 KB at once from the buffers; a figure every 0.1 s.
    constexpr std::int64_t kTotal = 200000;
    CProgressEstimate estimate;
    std::optional<double> previousTotal;
    double largestStep = 0;
    for (int tick = 0; tick <= 200; ++tick)
    {
        const double seconds = tick * 0.1;
        const std::int64_t done = seconds <= 0.5 ? std::int64_t(seconds * 40000)
                                                 : std::min<std::int64_t>(20000 + std::int64_t((seconds - 0.5) * 9231), kTotal);
        const auto remaining = estimate.Update(seconds, done, kTotal);
        if (seconds < CProgressEstimate::kMinEvidenceSeconds)
        {
            EXPECT_FALSE(remaining) << "no figure before a second of evidence";
            continue;
        }
        ASSERT_TRUE(remaining);
        const double total = seconds + *remaining;
        if (previousTotal)
            largestStep = std::max(largestStep, std::abs(total - *previousTotal));
        previousTotal = total;
        if (seconds >= 15)
        {
            EXPECT_NEAR(total, 20.0, 0.5) << "at " << seconds << " s";
        }
    }
    EXPECT_LT(largestStep, 1.0);
}

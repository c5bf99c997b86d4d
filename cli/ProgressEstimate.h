// The estimated time left of a transfer, steady enough to read: the rate is
// measured over the last few seconds (not since the start, which a slow
// opening drags down, nor over the last packet, which a burst from the
// buffers inflates), nothing is shown before a second of evidence, and each
// new figure moves the shown one only by the share of the time constant the
// new evidence covers, so the estimate glides instead of jumping.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

class CProgressEstimate
{
public:
    static constexpr double kRateWindowSeconds = 5.0; // the rate is measured over this span
    static constexpr double kMinEvidenceSeconds = 1.0; // no estimate before this much
    static constexpr double kTimeConstantSeconds = 3.0; // how fast the shown figure follows

    // Adds the bytes done `seconds` after the start and returns the seconds
    // left, or nothing while the evidence is too thin.
    std::optional<double> Update(double seconds, std::int64_t bytesDone, std::int64_t totalBytes);

private:
    struct Sample
    {
        double seconds;
        std::int64_t bytes;
    };
    std::deque<Sample> m_samples;
    std::optional<double> m_remaining; // the figure shown last
    double m_lastSeconds = 0;
};

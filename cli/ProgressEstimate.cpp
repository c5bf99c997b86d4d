#include "cli/ProgressEstimate.h"

#include <algorithm>

std::optional<double> CProgressEstimate::Update(double seconds, std::int64_t bytesDone, std::int64_t totalBytes)
{
    // A transfer that starts again (a receiver's restart) starts the evidence again.
    if (!m_samples.empty() && (bytesDone < m_samples.back().bytes || seconds < m_samples.back().seconds))
    {
        m_samples.clear();
        m_remaining.reset();
    }
    m_samples.push_back({seconds, bytesDone});
    // Keep one sample at or before the window's start, so the span covers it.
    while (m_samples.size() > 2 && m_samples[1].seconds <= seconds - kRateWindowSeconds)
        m_samples.pop_front();

    const Sample& oldest = m_samples.front();
    const double span = seconds - oldest.seconds;
    const std::int64_t moved = bytesDone - oldest.bytes;
    if (span < kMinEvidenceSeconds || moved <= 0 || totalBytes <= 0)
        return m_remaining;

    const double measured = double(std::max<std::int64_t>(totalBytes - bytesDone, 0)) / (double(moved) / span);
    if (!m_remaining)
    {
        m_remaining = measured;
    }
    else
    {
        // The shown figure runs down with the clock and leans towards the
        // measured one as far as the time since the last figure warrants.
        const double step = std::max(seconds - m_lastSeconds, 0.0);
        const double expected = std::max(*m_remaining - step, 0.0);
        const double weight = std::min(step / kTimeConstantSeconds, 1.0);
        m_remaining = expected + (measured - expected) * weight;
    }
    m_lastSeconds = seconds;
    if (bytesDone >= totalBytes)
        m_remaining = 0.0;
    return m_remaining;
}

#include "cli/SilenceWatch.h"

bool CSilenceWatch::IsOver(double silentSeconds, Clock::time_point now)
{
    if (silentSeconds < m_dWaitSeconds)
    {
        m_firstSeen.reset();
        return false;
    }
    if (!m_firstSeen)
        m_firstSeen = now;
    return now - *m_firstSeen >= kCatchUp;
}

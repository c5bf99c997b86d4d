// Keeps a transfer benchmark's threads and the simulated receiver it starts on
// one processor.
//
// The simulated receiver stands in for the hardware at the far end of the
// line. Between two processes on a pseudo-terminal every write wakes the other
// side, and when that side sleeps on another processor the wake-up costs an
// interrupt between processors; on a virtual machine that interrupt leaves the
// guest and now and then loses the processor for milliseconds. A line to a
// real receiver has no such cost, so by default the benchmark keeps both ends
// together; the spread variants show the cost where the scheduler places them.
#pragma once

#include <sched.h>

class COneProcessor
{
public:
    // Pins the calling thread (and so the threads and children it starts
    // later) to the processor it runs on; does nothing when `pin` is false.
    explicit COneProcessor(bool pin)
    {
        if (!pin || sched_getaffinity(0, sizeof m_saved, &m_saved) != 0)
            return;
        const int cpu = sched_getcpu();
        if (cpu < 0)
            return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        m_bPinned = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~COneProcessor()
    {
        if (m_bPinned)
            sched_setaffinity(0, sizeof m_saved, &m_saved);
    }
    COneProcessor(const COneProcessor&) = delete;
    COneProcessor& operator=(const COneProcessor&) = delete;

private:
    cpu_set_t m_saved{};
    bool m_bPinned = false;
};

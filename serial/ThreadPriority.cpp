#include "serial/ThreadPriority.h"

#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
// Any real-time priority runs ahead of every normal thread; a low one leaves the
// kernel's own real-time threads alone.
constexpr int kRealTimePriority = 10;

// The processor that the real-time threads of this process share, -1 until the
// first one chose it.
std::atomic<int> theRealTimeCpu{-1};

// Real-time threads hand work to each other (a port's monitor to the protocol
// thread) and never need to run at the same time. On one processor such a
// hand-off needs no wake-up of another processor, which on a virtual machine
// costs more than the work handed over; and the scheduler would otherwise place
// two real-time threads of equal priority apart. A refusal is ignored.
void ShareRealTimeCpu()
{
    int cpu = theRealTimeCpu.load();
    if (cpu < 0)
    {
        const int mine = sched_getcpu();
        if (mine < 0)
            return;
        cpu = theRealTimeCpu.compare_exchange_strong(cpu, mine) ? mine : cpu;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}
} // namespace

void RaiseThreadPriority(std::initializer_list<int> niceValues)
{
    sched_param param{};
    param.sched_priority = std::min(kRealTimePriority, sched_get_priority_max(SCHED_FIFO));
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
    {
        ShareRealTimeCpu();
        return;
    }
    // A normal thread's timers may fire up to 50 us late by default, which
    // would lengthen every one of the protocol's millisecond pauses.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    for (int nice : niceValues)
    {
        if (::setpriority(PRIO_PROCESS, tid, nice) == 0)
            return;
    }
}

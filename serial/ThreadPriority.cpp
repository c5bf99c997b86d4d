#include "serial/ThreadPriority.h"

#include <algorithm>
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
} // namespace

void RaiseThreadPriority(std::initializer_list<int> niceValues)
{
    sched_param param{};
    param.sched_priority = std::min(kRealTimePriority, sched_get_priority_max(SCHED_FIFO));
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
        return;
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

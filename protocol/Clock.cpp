#include "protocol/Clock.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>
#include <time.h>

namespace
{
CRealClock theRealClock;
std::atomic<CClock*> theCurrentClock{&theRealClock};
thread_local std::optional<CClock::TimePoint> theDeliveryArrival;
// How late this thread's timer wake-ups have lately been (see CRealClock::SleepUntil).
thread_local std::chrono::nanoseconds theWakeLateness{0};
} // namespace

void CClock::SleepUntil(TimePoint deadline)
{
    const auto left = deadline - SteadyNow();
    if (left > TimePoint::duration::zero())
        Sleep(int(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

std::time_t CRealClock::Now()
{
    return std::time(nullptr);
}

void CRealClock::Sleep(int milliseconds)
{
    if (milliseconds <= 0)
        std::this_thread::yield();
    else
        SleepUntil(SteadyNow() + std::chrono::milliseconds(milliseconds));
}

void CRealClock::SleepUntil(TimePoint deadline)
{
    // A timer wakes a thread some tens of microseconds late, more on a virtual
    // machine or from a deep idle state, and the receiver waits for every
    // pause. So the thread sleeps until its recent lateness before the
    // deadline and watches the clock for the rest: the pause ends on time, for
    // at most kMaxEarlyWake of processor time.
    const TimePoint wake = deadline - theWakeLateness;
    if (SteadyNow() < wake)
    {
        // steady_clock is CLOCK_MONOTONIC; an absolute deadline survives
        // signals without drifting.
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
        const timespec until{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR)
        {
        }
        theWakeLateness = NextWakeLateness(theWakeLateness, SteadyNow() - wake);
    }
    while (SteadyNow() < deadline)
    {
    }
}

std::chrono::nanoseconds NextWakeLateness(std::chrono::nanoseconds estimate, std::chrono::nanoseconds late)
{
    // Follows a later wake-up quickly and an earlier one slowly, so that most
    // wake-ups come before the deadline; one very late wake-up (the machine
    // was busy) moves it by a quarter at most.
    if (late > estimate)
        estimate += (late - estimate) / 4;
    else
        estimate -= (estimate - late) / 16;
    return std::clamp(estimate, std::chrono::nanoseconds::zero(), std::chrono::nanoseconds(kMaxEarlyWake));
}

std::int64_t CRealClock::SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CVirtualClock::Sleep(int milliseconds)
{
    if (milliseconds > 0)
    {
        m_nowMs += milliseconds;
        m_sleptMs += milliseconds;
    }
}

CClock& theClock()
{
    return *theCurrentClock.load();
}

void SetClock(CClock* clock)
{
    theCurrentClock.store(clock ? clock : &theRealClock);
}

CClock::TimePoint TakeDeliveryArrival()
{
    if (!theDeliveryArrival)
        return theClock().SteadyNow();
    const CClock::TimePoint arrival = *theDeliveryArrival;
    theDeliveryArrival.reset();
    return arrival;
}

void NoteDeliveryArrival(const CClock::TimePoint* arrival)
{
    if (arrival != nullptr)
        theDeliveryArrival = *arrival;
    else
        theDeliveryArrival.reset();
}

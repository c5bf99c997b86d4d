#include "protocol/Clock.h"

#include <cerrno>
#include <optional>
#include <thread>
#include <time.h>

namespace
{
CRealClock theRealClock;
std::atomic<CClock*> theCurrentClock{&theRealClock};
thread_local std::optional<CClock::TimePoint> theDeliveryArrival;
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
    // steady_clock is CLOCK_MONOTONIC; an absolute deadline survives signals
    // without drifting.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    const timespec until{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR)
    {
    }
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

#include "protocol/Clock.h"

#include <chrono>
#include <thread>

namespace
{
CRealClock theRealClock;
std::atomic<CClock*> theCurrentClock{&theRealClock};
} // namespace

std::time_t CRealClock::Now()
{
    return std::time(nullptr);
}

void CRealClock::Sleep(int milliseconds)
{
    if (milliseconds <= 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
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

// Fixed pauses end at deadlines counted from their events: what happened since
// the event is part of the pause, and lateness is never added to a pause.
#include "protocol/Clock.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ClockTest, PausesCountFromTheirEventsWithoutAddingLateness)
{
    CVirtualClock clock;
    SetClock(&clock);

    // A delivery noted on arrival, handled 3 ms later: its 10 ms pause waits the 7 left.
    const auto arrival = clock.SteadyNow();
    NoteDeliveryArrival(&arrival);
    clock.Advance(3);
    clock.PauseFrom(TakeDeliveryArrival(), 10);
    EXPECT_EQ(clock.SteadyNow() - arrival, 10ms);
    EXPECT_EQ(clock.SleptMs(), 7);

    // The note is taken once: a second delivery in the same step counts from now.
    const auto second = clock.SteadyNow();
    clock.PauseFrom(TakeDeliveryArrival(), 10);
    EXPECT_EQ(clock.SteadyNow() - second, 10ms);

    // An event whose pause has already passed (a late start of 12 ms) waits nothing.
    const auto old = clock.SteadyNow();
    clock.Advance(12);
    clock.PauseFrom(old, 10);
    EXPECT_EQ(clock.SteadyNow() - old, 12ms);
    EXPECT_EQ(clock.SleptMs(), 17);

    SetClock(nullptr);
}

TEST(ClockTest, RealPausesEndOnTimeAndNeverEarly)
{
    // Woken early by its estimate of the timer's lateness, a pause still never
    // ends before its deadline.
    CRealClock clock;
    for (int i = 0; i < 30; ++i)
    {
        const auto deadline = clock.SteadyNow() + 1ms;
        clock.SleepUntil(deadline);
        EXPECT_GE(clock.SteadyNow(), deadline);
    }
    // The estimate rises by a quarter of a later wake-up, falls slowly, and
    // stays within what a pause may spend watching the clock.
    EXPECT_EQ(NextWakeLateness(0us, 40us), 10us);
    EXPECT_EQ(NextWakeLateness(80us, 0us), 75us);
    EXPECT_EQ(NextWakeLateness(kMaxEarlyWake, 50ms), kMaxEarlyWake);
}

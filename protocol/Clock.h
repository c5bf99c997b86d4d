// The clock the protocol uses for its fixed pauses and its calendar time.
// Production code uses the real clock; unit tests install a virtual one so that
// the pauses cost nothing and time moves only when a test says so.
//
// A fixed pause is a minimum measured from the event that starts it (bytes
// arriving, the last byte written) and is waited for until an absolute deadline
// on the steady clock: work done since the event is part of the pause, and a
// late wake-up of one pause is never added to the next one's length.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

class CClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~CClock() = default;
    // Calendar time in whole seconds (the transfers' start and elapsed times).
    virtual std::time_t Now() = 0;
    // A fixed protocol pause measured from this call. 0 yields the processor once.
    virtual void Sleep(int milliseconds) = 0;
    // The steady clock: when an event happened, for PauseFrom().
    virtual TimePoint SteadyNow() { return std::chrono::steady_clock::now(); }
    // Waits until `deadline`; returns at once when it has passed. By default a
    // Sleep() of the whole milliseconds left, rounded up.
    virtual void SleepUntil(TimePoint deadline);
    // A fixed pause of `milliseconds` measured from `event`: ends at
    // event + milliseconds, at once when that has passed.
    void PauseFrom(TimePoint event, int milliseconds)
    {
        SleepUntil(event + std::chrono::milliseconds(milliseconds));
    }
    // Milliseconds on a steady count that never jumps with the calendar, for
    // short guard times between protocol steps.
    virtual std::int64_t SteadyMs() { return std::int64_t(Now()) * 1000; }
};

// A real pause sleeps until this much before its deadline at most, and
// watches the clock for the rest.
inline constexpr std::chrono::microseconds kMaxEarlyWake{200};
// The next estimate of a thread's timer lateness after a wake-up `late`
// behind its time, between 0 and kMaxEarlyWake.
std::chrono::nanoseconds NextWakeLateness(std::chrono::nanoseconds estimate, std::chrono::nanoseconds late);

class CRealClock : public CClock
{
public:
    std::time_t Now() override;
    void Sleep(int milliseconds) override;
    void SleepUntil(TimePoint deadline) override; // clock_nanosleep on CLOCK_MONOTONIC, absolute, then the clock
    std::int64_t SteadyMs() override;
};

// Time advances only through Sleep(), SleepUntil() and Advance(); nothing ever
// blocks. Its steady time counts whole milliseconds from the start of the epoch.
class CVirtualClock : public CClock
{
public:
    explicit CVirtualClock(std::time_t start = 1000000) : m_nowMs(std::int64_t(start) * 1000) {}
    std::time_t Now() override { return std::time_t(m_nowMs.load() / 1000); }
    void Sleep(int milliseconds) override;
    TimePoint SteadyNow() override { return TimePoint(std::chrono::milliseconds(m_nowMs.load())); }
    std::int64_t SteadyMs() override { return m_nowMs.load(); }
    void Advance(int milliseconds) { m_nowMs += milliseconds; }
    // Milliseconds slept in total, to check the pauses a step made.
    std::int64_t SleptMs() const { return m_sleptMs.load(); }
    std::int64_t NowMs() const { return m_nowMs.load(); }

private:
    std::atomic<std::int64_t> m_nowMs;
    std::atomic<std::int64_t> m_sleptMs{0};
};

// The clock in force: the real clock unless a test installed another.
CClock& theClock();
// Installs `clock` (nullptr restores the real clock). Tests only; not thread-safe
// against running protocol steps.
void SetClock(CClock* clock);

// When the delivery being handled arrived. The code that hands a port's
// deliveries to the protocol thread notes the moment, so that the pause made
// before a delivery is handled counts from its arrival and the hand-over is part
// of it. The note belongs to the thread that runs the delivery and is taken once:
// a later call, or a delivery made without a note, gets theClock().SteadyNow().
CClock::TimePoint TakeDeliveryArrival();
// Sets (or, with nullptr, clears) the calling thread's note.
void NoteDeliveryArrival(const CClock::TimePoint* arrival);

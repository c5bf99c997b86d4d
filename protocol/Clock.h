// The clock the protocol uses for its fixed pauses and its calendar time.
// Production code uses the real clock; unit tests install a virtual one so that
// the pauses cost nothing and time moves only when a test says so.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

class CClock
{
public:
    virtual ~CClock() = default;
    // Calendar time in whole seconds (the transfers' start and elapsed times).
    virtual std::time_t Now() = 0;
    // A fixed protocol pause. 0 yields the processor once.
    virtual void Sleep(int milliseconds) = 0;
    // Milliseconds on a steady count that never jumps with the calendar, for
    // short guard times between protocol steps.
    virtual std::int64_t SteadyMs() { return std::int64_t(Now()) * 1000; }
};

class CRealClock : public CClock
{
public:
    std::time_t Now() override;
    void Sleep(int milliseconds) override;
    std::int64_t SteadyMs() override;
};

// Time advances only through Sleep() and Advance(); nothing ever blocks.
class CVirtualClock : public CClock
{
public:
    explicit CVirtualClock(std::time_t start = 1000000) : m_nowMs(std::int64_t(start) * 1000) {}
    std::time_t Now() override { return std::time_t(m_nowMs.load() / 1000); }
    void Sleep(int milliseconds) override;
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

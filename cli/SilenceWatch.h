// When the receiver's silence has lasted the --wait time. The receiver is heard
// through the deliveries of its bytes (CHeardGate in cli/TransferRunner.cpp).
// A silence is declared over only once it has been seen to last the catch-up
// time as well, on the watching thread's own clock: bytes that were already
// waiting in the port when the watcher looked - the process was stopped
// (Ctrl-Z) and continued, or its threads went unscheduled for a while - are
// handed over meanwhile and count as heard.
#pragma once

#include <chrono>
#include <optional>

class CSilenceWatch
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kCatchUp{250};

    explicit CSilenceWatch(double waitSeconds) : m_dWaitSeconds(waitSeconds) {}

    // `silentSeconds`: how long ago the receiver was last heard. True once the wait is over.
    bool IsOver(double silentSeconds, Clock::time_point now = Clock::now());

private:
    double m_dWaitSeconds;
    std::optional<Clock::time_point> m_firstSeen; // when the silence was first seen to pass the wait
};

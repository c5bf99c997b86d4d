// The one thread on which every protocol step runs, in order: deliveries from the
// ports' monitor threads, page timer ticks and the user's commands. Front ends
// post to it and never wait for it; a monitor thread reads nothing more until its
// delivery has run, so unread bytes stay in the port's buffers meanwhile. A step is never
// re-entered by a delivery: a port created on this thread delivers through it,
// so everything a page does is ordered without locks of its own. The thread
// asks for a real-time priority (falling back to a raised nice value) because
// the protocol's pauses are a few milliseconds and the receiver waits on each.
#pragma once

#include "serial/DeliveryGate.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class CProtocolThread : public CDeliveryGate
{
public:
    CProtocolThread();
    ~CProtocolThread() override; // Stop()

    // Queues a step; returns at once. Steps posted after Stop() are dropped.
    void Post(std::function<void()> step);

    // Runs a delivery on this thread and waits for it. Called on this thread
    // itself it runs at once. Returns without running it once Stop() began.
    void RunDelivery(const std::function<void()>& delivery) override;
    // Queues a delivery behind the steps posted so far; it is dropped once Stop()
    // began. Both kinds of delivery note their arrival (the moment they were
    // handed over) for TakeDeliveryArrival() while they run.
    void PostDelivery(CPostedDelivery& delivery) override;

    // A repeating timer whose ticks run as steps on this thread. Returns its id.
    int StartTimer(std::chrono::milliseconds period, std::function<void()> tick);
    // Stops a timer; a tick already queued or running is not undone. Unknown ids are ignored.
    void StopTimer(int id);

    // Waits until every step posted before the call has run. Not from this thread.
    void Sync();

    // Ends the thread: the step under way finishes, queued steps are dropped,
    // waiting deliveries are released. Idempotent; must not be called from this thread.
    void Stop();

    bool IsCurrentThread() const { return std::this_thread::get_id() == m_threadId; }

private:
    using Clock = std::chrono::steady_clock;
    struct Timer
    {
        std::chrono::milliseconds period;
        Clock::time_point due;
        std::function<void()> tick;
    };

    // A queued step: a function, or a posted delivery with its arrival.
    struct Step
    {
        std::function<void()> run;
        CPostedDelivery* posted = nullptr;
        Clock::time_point arrival{};
    };

    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Step> m_steps;
    std::map<int, Timer> m_timers;
    int m_nNextTimerId = 1;
    bool m_bStopping = false;
    std::thread m_thread;
    std::thread::id m_threadId;
};

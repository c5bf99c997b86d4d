#include "protocol/ProtocolThread.h"

#include "protocol/Clock.h"
#include "serial/ThreadPriority.h"

#include <algorithm>
#include <memory>

CProtocolThread::CProtocolThread()
{
    m_thread = std::thread([this] { Run(); });
    std::lock_guard lock(m_mutex);
    m_threadId = m_thread.get_id();
}

CProtocolThread::~CProtocolThread()
{
    Stop();
}

void CProtocolThread::Post(std::function<void()> step)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping)
            return;
        m_steps.push_back(Step{std::move(step)});
    }
    m_wake.notify_all();
}

void CProtocolThread::RunDelivery(const std::function<void()>& delivery)
{
    if (IsCurrentThread())
    {
        delivery();
        return;
    }
    // The waiter's state is shared with the queued step, which may outlive this
    // call only in the sense that it is dropped unrun at Stop().
    struct Waiter
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto waiter = std::make_shared<Waiter>();
    auto finish = [waiter] {
        std::lock_guard lock(waiter->mutex);
        waiter->finished = true;
        waiter->done.notify_all();
    };
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping)
            return;
        // The step holds a guard that marks the waiter finished when the step is
        // run or destroyed unrun, so a delivery never waits for a stopped thread.
        auto guard = std::shared_ptr<void>(nullptr, [finish](void*) { finish(); });
        // The handler's pause before a delivery counts from here, its arrival.
        m_steps.push_back(Step{[&delivery, guard, arrival = theClock().SteadyNow()] {
            NoteDeliveryArrival(&arrival);
            delivery();
            NoteDeliveryArrival(nullptr);
        }});
    }
    m_wake.notify_all();
    std::unique_lock lock(waiter->mutex);
    waiter->done.wait(lock, [&] { return waiter->finished; });
}

void CProtocolThread::PostDelivery(CPostedDelivery& delivery)
{
    const auto arrival = theClock().SteadyNow();
    bool queued = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bStopping)
        {
            m_steps.push_back(Step{nullptr, &delivery, arrival});
            queued = true;
        }
    }
    if (queued)
        m_wake.notify_all();
    else
        delivery.Dropped();
}

int CProtocolThread::StartTimer(std::chrono::milliseconds period, std::function<void()> tick)
{
    std::lock_guard lock(m_mutex);
    const int id = m_nNextTimerId++;
    m_timers[id] = Timer{period, Clock::now() + period, std::move(tick)};
    m_wake.notify_all();
    return id;
}

void CProtocolThread::StopTimer(int id)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase(id);
}

void CProtocolThread::Sync()
{
    if (IsCurrentThread())
        return;
    auto waiter = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    auto done = std::make_shared<bool>(false);
    auto guard = std::shared_ptr<void>(nullptr, [waiter, done](void*) {
        std::lock_guard lock(waiter->first);
        *done = true;
        waiter->second.notify_all();
    });
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping)
            return;
        m_steps.push_back(Step{[guard] {}});
    }
    guard.reset();
    m_wake.notify_all();
    std::unique_lock lock(waiter->first);
    waiter->second.wait(lock, [&] { return *done; });
}

void CProtocolThread::Stop()
{
    std::deque<Step> dropped;
    {
        std::lock_guard lock(m_mutex);
        if (m_bStopping && !m_thread.joinable())
            return;
        m_bStopping = true;
        m_timers.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable() && !IsCurrentThread())
        m_thread.join();
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_steps);
    }
    // Destroying the dropped steps releases any delivery still waiting for them.
    for (Step& step : dropped)
    {
        if (step.posted != nullptr)
            step.posted->Dropped();
    }
    dropped.clear();
}

void CProtocolThread::Run()
{
    // The protocol's fixed pauses are short (1 ms after each CRC byte, 10 ms per
    // delivery) and the receiver waits on each answer, so a late wake-up on a
    // busy machine stretches every packet.
    RaiseThreadPriority({-10, -5});
    std::unique_lock lock(m_mutex);
    while (!m_bStopping)
    {
        if (!m_steps.empty())
        {
            Step step = std::move(m_steps.front());
            m_steps.pop_front();
            lock.unlock();
            if (step.posted != nullptr)
            {
                NoteDeliveryArrival(&step.arrival);
                step.posted->Run();
                NoteDeliveryArrival(nullptr);
            }
            else
            {
                step.run();
                step.run = nullptr; // release what the step holds before taking the lock again
            }
            lock.lock();
            continue;
        }
        // Due timers become steps; the earliest deadline bounds the wait.
        auto now = Clock::now();
        auto next = Clock::time_point::max();
        for (auto& [id, timer] : m_timers)
        {
            if (timer.due <= now)
            {
                m_steps.push_back(Step{timer.tick});
                timer.due = now + timer.period;
            }
            next = std::min(next, timer.due);
        }
        if (!m_steps.empty())
            continue;
        if (next == Clock::time_point::max())
            m_wake.wait(lock);
        else
            m_wake.wait_until(lock, next);
    }
}

// A window for the transfer benchmarks: it shows nothing, answers each box
// after the user's think time, prints boxes a run should not raise, and tells
// when the transfer starts and ends.
#pragma once

#include "ui/NullWindow.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CTransferWatchWindow : public CNullWindow
{
public:
    using SteadyClock = std::chrono::steady_clock;

    // `expectedBoxes`: the texts a good run shows; `boxOk`: how long the user
    // takes to OK a box.
    CTransferWatchWindow(std::vector<std::string> expectedBoxes, std::chrono::milliseconds boxOk)
        : m_expectedBoxes(std::move(expectedBoxes)), m_boxOk(boxOk)
    {
    }

    void MessageBox(const std::string& text, BoxIcon) override
    {
        if (std::find(m_expectedBoxes.begin(), m_expectedBoxes.end(), text) == m_expectedBoxes.end())
            std::fprintf(stderr, "box: %s\n", text.c_str());
        std::this_thread::sleep_for(m_boxOk);
    }
    void TransferStarted() override
    {
        std::lock_guard lock(mutex);
        started = SteadyClock::now();
        bStarted = true;
        OnStarted();
        changed.notify_all();
    }
    void TransferEnded(const TransferEnd& end) override
    {
        std::lock_guard lock(mutex);
        // Only the first end counts: the receiver exits once the transfer is
        // done, and what follows may end the next wait too.
        if (bEnded)
            return;
        OnEnded();
        bEnded = true;
        bCompleted = end.Completed();
        changed.notify_all();
    }

    // True once the transfer started (ended) within `timeout`.
    bool WaitForStart(SteadyClock::duration timeout)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return bStarted; });
    }
    bool WaitForEnd(SteadyClock::duration timeout)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return bEnded; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    SteadyClock::time_point started;
    bool bStarted = false;
    bool bEnded = false;
    bool bCompleted = false;

protected:
    // Called at the start and the first end, under the mutex.
    virtual void OnStarted() {}
    virtual void OnEnded() {}

private:
    std::vector<std::string> m_expectedBoxes;
    std::chrono::milliseconds m_boxOk;
};

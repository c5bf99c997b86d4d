// The protocol thread's promises: steps run in order on one thread, a delivery
// waits until it has run, nothing waits for a stopped thread, timers tick there.
#include "protocol/ProtocolThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

using namespace std::chrono_literals;

TEST(ProtocolThreadTest, StepsAndDeliveriesRunInOrderOnTheThread)
{
    CProtocolThread thread;
    std::vector<int> order; // touched only on the protocol thread, read after Sync()
    std::thread::id stepThread;
    thread.Post([&] {
        order.push_back(1);
        stepThread = std::this_thread::get_id();
    });
    thread.Post([&] { order.push_back(2); });
    // From another thread a delivery waits until it ran, after the steps before it.
    std::thread monitor([&] { thread.RunDelivery([&] { order.push_back(3); }); });
    monitor.join();
    thread.Post([&] { order.push_back(4); });
    thread.Sync();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_NE(stepThread, std::this_thread::get_id());
}

TEST(ProtocolThreadTest, DeliveryFromTheThreadItselfRunsAtOnce)
{
    CProtocolThread thread;
    std::vector<int> order;
    thread.Post([&] {
        order.push_back(1);
        thread.RunDelivery([&] { order.push_back(2); });
        order.push_back(3);
    });
    thread.Sync();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ProtocolThreadTest, StopReleasesAWaitingDeliveryAndDropsLaterPosts)
{
    auto thread = std::make_unique<CProtocolThread>();
    std::promise<void> stepStarted;
    std::promise<void> release;
    auto releaseFuture = release.get_future().share();
    thread->Post([&] {
        stepStarted.set_value();
        releaseFuture.wait();
    });
    stepStarted.get_future().wait();

    std::atomic<bool> ran{false};
    auto delivery = std::async(std::launch::async, [&] { thread->RunDelivery([&] { ran = true; }); });
    std::this_thread::sleep_for(20ms);
    auto stopping = std::async(std::launch::async, [&] { thread->Stop(); });
    std::this_thread::sleep_for(20ms);
    release.set_value();
    ASSERT_EQ(stopping.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(delivery.wait_for(5s), std::future_status::ready) << "a delivery never waits for a stopped thread";
    EXPECT_FALSE(ran);

    bool posted = false;
    thread->Post([&] { posted = true; });
    thread->RunDelivery([&] { posted = true; });
    thread->Sync();
    thread.reset();
    EXPECT_FALSE(posted);
}

TEST(ProtocolThreadTest, TimerTicksRunOnTheThreadUntilStopped)
{
    CProtocolThread thread;
    std::atomic<int> ticks{0};
    std::atomic<bool> onThread{true};
    const int id = thread.StartTimer(5ms, [&] {
        onThread = onThread && thread.IsCurrentThread();
        ++ticks;
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (ticks < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    thread.StopTimer(id);
    thread.Sync();
    const int stoppedAt = ticks;
    std::this_thread::sleep_for(30ms);
    thread.Sync();
    EXPECT_GE(stoppedAt, 3);
    EXPECT_EQ(ticks, stoppedAt);
    EXPECT_TRUE(onThread);
    thread.StopTimer(12345); // unknown ids are ignored
}

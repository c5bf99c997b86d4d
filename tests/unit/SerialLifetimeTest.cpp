// Closing and deleting ports while their monitor threads run, deliveries that
// delete their own port, and devices that go away. Run under ASan and TSan.
#include "serial/PortNames.h"
#include "serial/SerialMonitor.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/SerialRecorder.h"

#include "protocol/ProtocolThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <termios.h>

using namespace std::chrono_literals;
using testsupport::CPtyPair;
using testsupport::CSerialRecorder;

namespace
{
constexpr int kTestPort = 4;

// Runs `action` on another thread and reports whether it finished in time, so
// that a deadlock fails the test instead of hanging it.
template <typename Action>
bool FinishesWithin(std::chrono::milliseconds limit, Action action)
{
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    std::thread([done, action]() mutable {
        action();
        done->set_value();
    }).detach();
    return future.wait_for(limit) == std::future_status::ready;
}

class SerialLifetimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearPortDevices();
        SetPortDevice(kTestPort, m_pty.SlavePath());
    }
    void TearDown() override
    {
        delete theSerialPort;
        theSerialPort = nullptr;
        ClearPortDevices();
    }

    static CForwardingSerialPort* OpenPort(CSerialOwner* owner, CDeliveryGate* gate = nullptr)
    {
        auto* port = new CForwardingSerialPort(owner, gate);
        EXPECT_EQ(port->SetParamsAndOpen(kTestPort, 9600, 8, 0, 0), 1) << port->LastErrorText();
        return port;
    }

    CPtyPair m_pty;
    CSerialRecorder m_recorder;
};

TEST_F(SerialLifetimeTest, ClosingWhileTheMonitorWaitsEndsItWithoutDelivery)
{
    auto* port = OpenPort(&m_recorder);
    std::this_thread::sleep_for(20ms); // the monitor is waiting in poll
    EXPECT_TRUE(FinishesWithin(5s, [port] { delete port; }));
    EXPECT_EQ(MonitorThreadsRunning(), 0); // an idle monitor is waited for
    EXPECT_TRUE(m_recorder.Deliveries().empty());
    // The device was released: the same port opens again at once.
    auto* again = OpenPort(&m_recorder);
    delete again;
}

TEST_F(SerialLifetimeTest, ExplicitShutDownStopsDeliveriesAndWrites)
{
    auto* port = OpenPort(&m_recorder);
    EXPECT_EQ(port->ShutDown(), 1);
    EXPECT_FALSE(port->IsOpen());
    ASSERT_TRUE(m_pty.Send("late"));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(m_recorder.Deliveries().empty());
    EXPECT_EQ(port->WriteByte(0xCD), 0);
    port->Purge(); // harmless on a closed port
    EXPECT_TRUE(FinishesWithin(5s, [port] { delete port; }));
}

TEST_F(SerialLifetimeTest, OwnerDeletesAndReplacesThePortInsideItsDelivery)
{
    // A page reset: the delivery deletes the port it came from and opens a new one.
    CSerialRecorder newOwner;
    std::promise<CForwardingSerialPort*> replaced;
    auto replacement = replaced.get_future();
    std::atomic<int> resets{0};
    m_recorder.onReceive = [&](const char*, int) {
        if (resets++ != 0)
            return;
        delete theSerialPort;
        theSerialPort = OpenPort(&newOwner);
        replaced.set_value(theSerialPort);
    };
    // Stored before the monitor starts, so the delivery sees it.
    theSerialPort = new CForwardingSerialPort(&m_recorder);
    ASSERT_EQ(theSerialPort->SetParamsAndOpen(kTestPort, 9600, 8, 0, 0), 1);
    ASSERT_TRUE(m_pty.Send(std::string(250, 'A')));
    ASSERT_EQ(replacement.wait_for(5s), std::future_status::ready);
    CForwardingSerialPort* port = replacement.get();
    std::this_thread::sleep_for(50ms);
    // The old port delivered nothing after its deletion.
    EXPECT_EQ(m_recorder.AllBytes(), std::string(100, 'A'));
    EXPECT_EQ(resets.load(), 1);
    ASSERT_TRUE(m_pty.Send("new"));
    ASSERT_TRUE(newOwner.WaitForBytes(3));
    const std::string received = newOwner.AllBytes();
    EXPECT_EQ(received.substr(received.size() - 3), "new");
    // Idle now: deleting waits for the monitor thread, so newOwner may go.
    EXPECT_TRUE(FinishesWithin(5s, [port] { delete port; }));
    theSerialPort = nullptr;
}

TEST_F(SerialLifetimeTest, OwnerDeletesThePortInsideAGatedDelivery)
{
    CProtocolThread gate;
    CSerialRecorder newOwner;
    std::atomic<int> resets{0};
    m_recorder.onReceive = [&](const char*, int) {
        if (resets++ != 0)
            return;
        delete theSerialPort;
        theSerialPort = OpenPort(&newOwner, &gate);
    };
    gate.Post([&] { theSerialPort = OpenPort(&m_recorder, &gate); });
    gate.Sync();
    ASSERT_TRUE(m_pty.Send(std::string(150, 'A')));
    ASSERT_TRUE(m_recorder.WaitForBytes(1));
    gate.Sync();
    EXPECT_EQ(m_recorder.AllBytes(), std::string(100, 'A'));
    ASSERT_TRUE(m_pty.Send("new"));
    ASSERT_TRUE(newOwner.WaitForBytes(3));
    gate.Post([] {
        delete theSerialPort;
        theSerialPort = nullptr;
    });
    gate.Sync();
    gate.Stop();
}

TEST_F(SerialLifetimeTest, DeliveryQueuedForADeletedPortIsDroppedUnrun)
{
    CProtocolThread gate;
    std::promise<void> release;
    auto released = release.get_future().share();
    gate.Post([&] { theSerialPort = OpenPort(&m_recorder, &gate); });
    gate.Sync();
    // A protocol step holds the gate while bytes arrive, so the monitor's delivery
    // queues behind it; the step then deletes the port (as a page reset does).
    gate.Post([released] {
        released.wait();
        delete theSerialPort;
        theSerialPort = nullptr;
    });
    ASSERT_TRUE(m_pty.Send("queued"));
    std::this_thread::sleep_for(50ms);
    release.set_value();
    gate.Sync();
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(m_recorder.Deliveries().empty());
    gate.Stop();
}

TEST_F(SerialLifetimeTest, DeletionFromAnotherThreadDuringDeliveriesIsClean)
{
    // Deliveries keep running on the monitor thread while the test thread
    // deletes the port at arbitrary moments; nothing may deadlock or crash.
    for (int round = 0; round < 20; ++round)
    {
        CSerialRecorder owner;
        owner.onReceive = [](const char*, int) { std::this_thread::sleep_for(100us); };
        auto* port = OpenPort(&owner);
        std::thread sender([&] {
            for (int i = 0; i < 20; ++i)
                m_pty.Send(std::string(37, char('a' + i)));
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        EXPECT_TRUE(FinishesWithin(5s, [port] { delete port; })) << "round " << round;
        sender.join();
        // A delivery under way when the port was deleted still ends in the owner;
        // it must outlive that, so wait for the monitor thread to end.
        for (int i = 0; i < 500 && MonitorThreadsRunning() != 0; ++i)
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(MonitorThreadsRunning(), 0) << "a monitor thread outlived its port";
        m_pty.ReceiveAvailable(1ms);
        ::tcflush(m_pty.SlaveFd(), TCIOFLUSH);
    }
}

TEST_F(SerialLifetimeTest, MasterClosingMidStreamIsReportedOnceAndReopenWorks)
{
    auto* port = OpenPort(&m_recorder);
    ASSERT_TRUE(m_pty.Send(std::string(60, 'x')));
    ASSERT_TRUE(m_recorder.WaitForBytes(60));
    m_pty.CloseMaster();
    ASSERT_TRUE(m_recorder.WaitForLost());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_recorder.LostCount(), 1);
    EXPECT_EQ(m_recorder.AllBytes(), std::string(60, 'x'));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->WriteByte(1), 0);
    EXPECT_TRUE(FinishesWithin(5s, [port] { delete port; }));

    // The same port number, pointed at a working device again, opens and works.
    CPtyPair replacement;
    SetPortDevice(kTestPort, replacement.SlavePath());
    CSerialRecorder owner;
    auto* reopened = OpenPort(&owner);
    ASSERT_TRUE(replacement.Send("ok"));
    EXPECT_TRUE(owner.WaitForBytes(2));
    EXPECT_EQ(owner.LostCount(), 0);
    delete reopened;
}

TEST_F(SerialLifetimeTest, LostNoticeGoesThroughTheGate)
{
    CProtocolThread gate;
    std::atomic<bool> onGate{false};
    struct CLostProbe : CSerialOwner
    {
        CProtocolThread* gate = nullptr;
        std::atomic<bool>* onGate = nullptr;
        std::atomic<int> lost{0};
        void OnReceive(const char*, int) override {}
        void OnPortLost(int) override
        {
            *onGate = gate->IsCurrentThread();
            ++lost;
        }
    } probe;
    probe.gate = &gate;
    probe.onGate = &onGate;
    gate.Post([&] { theSerialPort = OpenPort(&probe, &gate); });
    gate.Sync();
    m_pty.CloseMaster();
    for (int i = 0; i < 500 && probe.lost == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(probe.lost.load(), 1);
    EXPECT_TRUE(onGate);
    gate.Post([] {
        delete theSerialPort;
        theSerialPort = nullptr;
    });
    gate.Sync();
    gate.Stop();
}

TEST_F(SerialLifetimeTest, DeletingAPortWhoseOpenFailedIsSafe)
{
    ClearPortDevices();
    auto* port = new CForwardingSerialPort(&m_recorder);
    EXPECT_EQ(port->SetParamsAndOpen(9, 9600, 8, 0, 0), 0);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->Write("x", 1), 0);
    EXPECT_EQ(port->Configure(), 0);
    delete port;
    // And one that was never opened at all.
    delete new CForwardingSerialPort(nullptr);
}
} // namespace

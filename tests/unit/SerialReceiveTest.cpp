// Reception over a real pseudo-terminal: how received bytes reach the owner.
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/SerialRecorder.h"

#include "protocol/ProtocolThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CPtyPair;
using testsupport::CSerialRecorder;

namespace
{
constexpr int kTestPort = 3;

class SerialReceiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearPortDevices();
        SetPortDevice(kTestPort, m_pty.SlavePath());
    }
    void TearDown() override { ClearPortDevices(); }

    std::unique_ptr<CForwardingSerialPort> OpenPort(CSerialOwner* owner, CDeliveryGate* gate = nullptr)
    {
        auto port = std::make_unique<CForwardingSerialPort>(owner, gate);
        Open(*port);
        return port;
    }
    // Separate from the construction, so that a delivery hook may use the
    // pointer: the monitor thread starts only here.
    static void Open(CSerialPort& port)
    {
        EXPECT_EQ(port.SetParamsAndOpen(kTestPort, 9600, 8, 0, 0), 1) << port.LastErrorText();
    }

    static std::string Pattern(std::size_t length)
    {
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            bytes[i] = char('a' + i % 26);
        return bytes;
    }

    // Bytes received by the tty and not read yet.
    int QueuedInput() const
    {
        int count = 0;
        return ::ioctl(m_pty.SlaveFd(), FIONREAD, &count) == 0 ? count : -1;
    }

    CPtyPair m_pty;
    CSerialRecorder m_recorder;
};

TEST_F(SerialReceiveTest, ShortBurstArrivesAsOneZeroTerminatedDelivery)
{
    auto port = OpenPort(&m_recorder);
    const std::string sent = Pattern(30);
    ASSERT_TRUE(m_pty.Send(sent));
    ASSERT_TRUE(m_recorder.WaitForBytes(30));
    EXPECT_EQ(m_recorder.Deliveries(), std::vector<std::string>{sent});
    EXPECT_EQ(m_recorder.MalformedCount(), 0); // data[30] was zero
}

TEST_F(SerialReceiveTest, LongBurstIsDeliveredInHundredByteChunksWithoutFurtherInput)
{
    auto port = OpenPort(&m_recorder);
    const std::string sent = Pattern(250);
    ASSERT_TRUE(m_pty.Send(sent));
    // Nothing more is sent: every byte must come out all the same.
    ASSERT_TRUE(m_recorder.WaitForBytes(250)) << "bytes stranded in the ring";
    const auto deliveries = m_recorder.Deliveries();
    EXPECT_EQ(m_recorder.AllBytes(), sent);
    for (const auto& delivery : deliveries)
        EXPECT_LE(delivery.size(), 100u);
    ASSERT_EQ(deliveries.size(), 3u);
    EXPECT_EQ(deliveries[0].size(), 100u);
    EXPECT_EQ(deliveries[1].size(), 100u);
    EXPECT_EQ(deliveries[2].size(), 50u);
    EXPECT_EQ(m_recorder.MalformedCount(), 0);
}

TEST_F(SerialReceiveTest, ZeroBytesInsideTheDataAreDelivered)
{
    auto port = OpenPort(&m_recorder);
    const std::string sent("\0AB\0\0C\0", 7);
    ASSERT_TRUE(m_pty.Send(sent));
    ASSERT_TRUE(m_recorder.WaitForBytes(sent.size()));
    EXPECT_EQ(m_recorder.AllBytes(), sent);
}

TEST_F(SerialReceiveTest, LargeStreamArrivesCompleteAndInOrder)
{
    auto port = OpenPort(&m_recorder);
    // Far more than the ring holds, sent in one go: nothing may be dropped.
    const std::string sent = Pattern(64 * 1024);
    std::thread sender([&] { m_pty.Send(sent); });
    EXPECT_TRUE(m_recorder.WaitForBytes(sent.size(), 20s));
    sender.join();
    EXPECT_EQ(m_recorder.AllBytes(), sent);
    EXPECT_EQ(m_recorder.MalformedCount(), 0);
}

TEST_F(SerialReceiveTest, PurgeDropsBytesHeldInTheRingAndTheDriver)
{
    std::unique_ptr<CForwardingSerialPort> port;
    std::promise<void> moreSent;
    auto moreSentFuture = moreSent.get_future();
    std::atomic<int> calls{0};
    m_recorder.onReceive = [&](const char*, int) {
        if (++calls != 1)
            return;
        // While the first delivery runs, more bytes reach the driver; a reset
        // inside the delivery purges them and the rest of the ring.
        moreSentFuture.wait();
        // Wait until those bytes sit in the tty's input queue.
        for (int i = 0; i < 400 && QueuedInput() < 20; ++i)
            std::this_thread::sleep_for(5ms);
        port->Purge();
    };
    port = std::make_unique<CForwardingSerialPort>(&m_recorder);
    Open(*port);
    ASSERT_TRUE(m_pty.Send(std::string(150, 'A')));
    ASSERT_TRUE(m_recorder.WaitForBytes(100));
    ASSERT_TRUE(m_pty.Send(std::string(20, 'B')));
    moreSent.set_value();
    std::this_thread::sleep_for(150ms);
    ASSERT_TRUE(m_pty.Send("C"));
    ASSERT_TRUE(m_recorder.WaitForBytes(101));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_recorder.AllBytes(), std::string(100, 'A') + "C");
}

TEST_F(SerialReceiveTest, SetOwnerSwitchesTheNextDelivery)
{
    CSerialRecorder second;
    std::unique_ptr<CForwardingSerialPort> port;
    m_recorder.onReceive = [&](const char*, int) { port->SetOwner(&second); };
    port = std::make_unique<CForwardingSerialPort>(&m_recorder);
    Open(*port);
    ASSERT_TRUE(m_pty.Send(Pattern(150)));
    ASSERT_TRUE(second.WaitForBytes(50));
    EXPECT_EQ(m_recorder.AllBytes(), Pattern(150).substr(0, 100));
    EXPECT_EQ(second.AllBytes(), Pattern(150).substr(100));

    // And from another thread, between bursts.
    CSerialRecorder third;
    port->SetOwner(&third);
    ASSERT_TRUE(m_pty.Send("xyz"));
    ASSERT_TRUE(third.WaitForBytes(3));
    EXPECT_EQ(third.AllBytes(), "xyz");
    EXPECT_EQ(second.AllBytes().size(), 50u);
}

TEST_F(SerialReceiveTest, BytesWithoutAnOwnerAreNotHandedToALaterOne)
{
    auto port = OpenPort(nullptr);
    ASSERT_TRUE(m_pty.Send("stale"));
    std::this_thread::sleep_for(100ms);
    port->SetOwner(&m_recorder);
    ASSERT_TRUE(m_pty.Send("fresh"));
    ASSERT_TRUE(m_recorder.WaitForBytes(5));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(m_recorder.AllBytes(), "fresh");
}

TEST_F(SerialReceiveTest, PlainPortKeepsBytesToItself)
{
    CSerialPort port;
    ASSERT_EQ(port.SetParamsAndOpen(kTestPort, 9600, 8, 0, 0), 1);
    ASSERT_TRUE(m_pty.Send(Pattern(5000)));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialReceiveTest, GateRunsDeliveriesOnItsThread)
{
    CProtocolThread gate;
    std::atomic<bool> onGate{true};
    m_recorder.onReceive = [&](const char*, int) {
        if (!gate.IsCurrentThread())
            onGate = false;
    };
    auto port = OpenPort(&m_recorder, &gate);
    ASSERT_TRUE(m_pty.Send(Pattern(250)));
    ASSERT_TRUE(m_recorder.WaitForBytes(250));
    EXPECT_TRUE(onGate);
    EXPECT_EQ(m_recorder.AllBytes(), Pattern(250));
    port.reset();
    gate.Stop();
}
} // namespace

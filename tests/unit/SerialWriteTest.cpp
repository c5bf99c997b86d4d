// Transmission over a real pseudo-terminal.
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using testsupport::CPtyPair;

namespace
{
constexpr int kTestPort = 5;

class SerialWriteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearPortDevices();
        SetPortDevice(kTestPort, m_pty.SlavePath());
        ASSERT_EQ(m_port.SetParamsAndOpen(kTestPort, 115200, 8, 0, 0), 1) << m_port.LastErrorText();
    }
    void TearDown() override { ClearPortDevices(); }

    CPtyPair m_pty;
    CSerialPort m_port;
};

TEST_F(SerialWriteTest, WriteByteSendsExactlyThatByte)
{
    EXPECT_EQ(m_port.WriteByte(0xCD), 1);
    EXPECT_EQ(m_pty.Receive(1), std::vector<unsigned char>{0xCD});
    EXPECT_TRUE(m_pty.ReceiveAvailable(50ms).empty()) << "more than the one byte went out";
}

TEST_F(SerialWriteTest, BlockGoesOutWholeInOneRead)
{
    std::vector<unsigned char> block(64);
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(m_port.Write(block.data(), 64), 1);
    // Write returned after the driver took the bytes: all 64 are there at once.
    pollfd fd{m_pty.MasterFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, 1000), 1);
    unsigned char buffer[256];
    const ssize_t n = ::read(m_pty.MasterFd(), buffer, sizeof buffer);
    ASSERT_EQ(n, 64);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + n), block);
}

TEST_F(SerialWriteTest, CallsLeaveInCallOrder)
{
    EXPECT_EQ(m_port.WriteByte(0xDC), 1);
    EXPECT_EQ(m_port.Write("\x01\x02\x03", 3), 1);
    EXPECT_EQ(m_port.WriteByte(0x00), 1);
    EXPECT_EQ(m_port.Write("", 0), 1);
    EXPECT_EQ(m_pty.Receive(5), (std::vector<unsigned char>{0xDC, 1, 2, 3, 0}));
}

TEST_F(SerialWriteTest, TwoWritersNeverInterleave)
{
    // Blocks larger than the pty's buffer, so each write needs several rounds
    // of waiting for room while the reader drains slowly.
    constexpr std::size_t kBlock = 20000;
    constexpr int kBlocksEach = 6;
    std::string received;
    std::thread reader([&] {
        const auto bytes = m_pty.Receive(2 * kBlock * kBlocksEach, 30s);
        received.assign(bytes.begin(), bytes.end());
    });
    auto writer = [&](char fill) {
        const std::string block(kBlock, fill);
        for (int i = 0; i < kBlocksEach; ++i)
            EXPECT_EQ(m_port.Write(block.data(), kBlock), 1);
    };
    std::thread first(writer, 'A');
    std::thread second(writer, 'B');
    first.join();
    second.join();
    reader.join();
    ASSERT_EQ(received.size(), 2 * kBlock * kBlocksEach);
    for (std::size_t offset = 0; offset < received.size(); offset += kBlock)
    {
        const std::string block = received.substr(offset, kBlock);
        EXPECT_EQ(block, std::string(kBlock, block[0])) << "mixed block at offset " << offset;
    }
}

TEST_F(SerialWriteTest, WritesGoOnAfterPurge)
{
    ASSERT_EQ(m_port.Write("abc", 3), 1);
    m_port.Purge();
    m_pty.ReceiveAvailable(20ms);
    ASSERT_EQ(m_port.Write("def", 3), 1);
    EXPECT_EQ(m_pty.Receive(3), (std::vector<unsigned char>{'d', 'e', 'f'}));
}

TEST_F(SerialWriteTest, ClosingReleasesAWriterWaitingForRoom)
{
    // Nobody reads the master: the writer fills the buffer and waits for room.
    std::atomic<int> result{-1};
    std::thread writer([&] {
        const std::string big(1 << 20, 'x');
        result = m_port.Write(big.data(), std::uint32_t(big.size()));
    });
    std::this_thread::sleep_for(100ms);
    m_port.ClosePort();
    writer.join();
    EXPECT_EQ(result.load(), 0); // not every byte went out: reported as a failure
}

TEST_F(SerialWriteTest, DeletingThePortEndsAWriteOnAnotherThread)
{
    CPtyPair other;
    SetPortDevice(kTestPort + 1, other.SlavePath());
    auto* port = new CSerialPort;
    ASSERT_EQ(port->SetParamsAndOpen(kTestPort + 1, 9600, 8, 0, 0), 1);
    std::atomic<bool> started{false};
    std::atomic<int> result{-1};
    std::thread writer([&] {
        const std::string big(1 << 20, 'x');
        started = true;
        result = port->Write(big.data(), std::uint32_t(big.size()));
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(100ms);
    delete port; // the write ends; nothing of the deleted object is used after
    writer.join();
    EXPECT_EQ(result.load(), 0);
}
} // namespace

// The far side reads late: bytes written before a Purge, a close or a reopen must
// still reach it (the rate code goes out right before the port is reopened at the
// new rate, the end message right before the reset).
TEST(SerialWriteUnreadTest, BytesWrittenBeforePurgeCloseAndReopenStillArrive)
{
    CPtyPair pty;
    ClearPortDevices();
    SetPortDevice(kTestPort, pty.SlavePath());
    {
        CSerialPort port;
        ASSERT_EQ(port.SetParamsAndOpen(kTestPort, 9600, 8, 0, 0), 1) << port.LastErrorText();
        ASSERT_EQ(port.WriteByte(0x04), 1);
        port.Purge();
        ASSERT_EQ(port.Write("END", 3), 1);
    } // closed with the bytes still unread
    CSerialPort reopened;
    ASSERT_EQ(reopened.SetParamsAndOpen(kTestPort, 57600, 8, 0, 0), 1) << reopened.LastErrorText();
    EXPECT_EQ(pty.Receive(4, 2s), (std::vector<unsigned char>{0x04, 'E', 'N', 'D'}));
    ClearPortDevices();
}

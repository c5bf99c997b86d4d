// The simulated receiver on a real pseudo-terminal: the line driver, pacing,
// the PC closing and reopening its end, and the in-process receiver's sessions.
#include "receiver/ReceiverLine.h"
#include "receiver/SimulatedReceiver.h"

#include "support/ReceiverPcEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using testsupport::CReceiverPcEnd;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace
{
Bytes ReadFromLine(CReceiverLine& line, std::size_t count)
{
    Bytes bytes;
    std::uint8_t buffer[256];
    for (int i = 0; i < 100 && bytes.size() < count; ++i)
    {
        std::size_t length = 0;
        if (line.Read(buffer, sizeof buffer, 50, length) == CReceiverLine::Result::Failed)
            break;
        bytes.insert(bytes.end(), buffer, buffer + length);
    }
    return bytes;
}

ReceiverModule SmallFirmware(int length)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = 0x11;
    module.header.bytes[31] = 1;
    module.header.setProgramLength(std::uint32_t(length));
    for (int i = 0; i < length; ++i)
        module.data.push_back(std::uint8_t(i ^ (i >> 8)));
    return module;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

TEST(ReceiverLine, SurvivesThePcClosingAndReopeningItsEnd)
{
    CReceiverLine line;
    std::string error;
    ASSERT_TRUE(line.OpenPty(error)) << error;
    CReceiverPcEnd pc;
    ASSERT_TRUE(pc.Open(line.SlavePath()));
    pc.Send({'a', 'b'});
    EXPECT_EQ(ReadFromLine(line, 2), (Bytes{'a', 'b'}));

    for (int round = 0; round < 3; ++round)
    {
        pc.Close();
        // No hang-up while the PC's end is closed: reads just find nothing.
        std::uint8_t buffer[16];
        std::size_t length = 0;
        EXPECT_EQ(line.Read(buffer, sizeof buffer, 30, length), CReceiverLine::Result::TimedOut);
        std::size_t written = 0;
        EXPECT_EQ(line.Write(Bytes{'x', 'y'}.data(), 2, 1000, written), CReceiverLine::Result::Ok);
        ASSERT_TRUE(pc.Open(line.SlavePath()));
        EXPECT_EQ(pc.Receive(2, 2s), (Bytes{'x', 'y'})) << "what was sent meanwhile waits for the PC";
        pc.Send({std::uint8_t('0' + round)});
        EXPECT_EQ(ReadFromLine(line, 1), Bytes{std::uint8_t('0' + round)});
    }
    // The slave stays raw: nothing the PC sends is echoed back to it.
    pc.Send({'\n', 'q'});
    EXPECT_EQ(ReadFromLine(line, 2), (Bytes{'\n', 'q'}));
    EXPECT_TRUE(pc.ReceiveAvailable(100ms).empty());
}

TEST(ReceiverLine, WakeCutsWaitsShort)
{
    CReceiverLine line;
    std::string error;
    ASSERT_TRUE(line.OpenPty(error)) << error;
    std::thread waker([&line] {
        std::this_thread::sleep_for(50ms);
        line.Wake();
    });
    std::uint8_t buffer[16];
    std::size_t length = 0;
    EXPECT_EQ(line.Read(buffer, sizeof buffer, -1, length), CReceiverLine::Result::Woken);
    waker.join();
    EXPECT_EQ(line.Pause(10000), CReceiverLine::Result::Woken) << "until cleared";
    line.ClearWake();
    EXPECT_EQ(line.Pause(5), CReceiverLine::Result::Ok);
}

TEST(ReceiverLine, PacingTakesAtLeastTheWireTime)
{
    CReceiverLine line;
    std::string error;
    ASSERT_TRUE(line.OpenPty(error)) << error;
    CReceiverPcEnd pc;
    ASSERT_TRUE(pc.Open(line.SlavePath()));
    line.SetRate(115200);
    line.SetPace(true);
    const Bytes packet(1030, 0x42);
    auto start = std::chrono::steady_clock::now();
    std::size_t written = 0;
    ASSERT_EQ(line.Write(packet.data(), packet.size(), 1000, written), CReceiverLine::Result::Ok);
    // 1030 bytes x 10 bits at 115200 baud: 89.4 ms.
    EXPECT_GE(SecondsSince(start), 0.0890);
    EXPECT_EQ(pc.Receive(1030, 2s).size(), 1030u);

    line.SetPace(true, 9600); // a fixed pace rate wins over the line rate
    pc.Send(Bytes(96, 0x55));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadFromLine(line, 96).size(), 96u);
    EXPECT_GE(SecondsSince(start), 0.099);
}

class SimulatedReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_receiver.Start(m_path, error)) << error;
        ASSERT_TRUE(m_pc.Open(m_path));
    }
    CSimulatedReceiver m_receiver;
    CReceiverPcEnd m_pc;
    std::string m_path;
};

TEST_F(SimulatedReceiverTest, DownloadAcrossThePcsReopenAtTheRateChange)
{
    std::vector<std::string> log;
    std::mutex logMutex;
    m_receiver.SetLog([&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    });
    ReceiverOptions options;
    options.nRate = 115200;
    std::string error;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    EXPECT_FALSE(m_receiver.PowerOn(options, error)) << "already on";
    const std::vector<ReceiverModule> modules = {SmallFirmware(5000), SmallFirmware(1024)};
    ASSERT_TRUE(testsupport::PlayDownloadPc(m_pc, m_path, modules, 0x05, FUNC_PROGRAM, error)) << error;
    const auto result = m_receiver.WaitForResult(10s);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->bSucceeded) << result->strText;
    EXPECT_EQ(BuildBinImage(result->modules), BuildBinImage(modules));
    EXPECT_FALSE(m_receiver.IsPoweredOn());
    std::lock_guard lock(logMutex);
    EXPECT_FALSE(log.empty());
}

TEST_F(SimulatedReceiverTest, UploadWithEveryFaultStillDeliversTheMemory)
{
    ReceiverModule eeprom = SyntheticMemory()[1];
    ReceiverOptions options;
    options.role = ReceiverRole::Upload;
    options.nRate = kReceiverNoRate;
    options.memory = {eeprom, eeprom, eeprom, eeprom};
    for (const char* text : {"crc:2", "drop:3", "dup:5", "ppp:7", "split-header", "chunks:200:2"})
    {
        ReceiverFault fault;
        std::string error;
        ASSERT_TRUE(ParseReceiverFault(text, fault, error));
        options.faults.push_back(fault);
    }
    std::string error;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    std::vector<ReceiverModule> got;
    ASSERT_TRUE(testsupport::PlayUploadPc(m_pc, got, error, 2s)) << error;
    const auto result = m_receiver.WaitForResult(10s);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->bSucceeded) << result->strText;
    ASSERT_EQ(got.size(), 4u);
    for (const auto& module : got)
    {
        EXPECT_EQ(module.data, eeprom.data);
        EXPECT_EQ(module.header.digital(), 1);
        EXPECT_EQ(module.header.flash(), 0);
    }
}

TEST_F(SimulatedReceiverTest, KeptDownloadIsServedToTheNextUploadWithTheCorruptedByte)
{
    // Firmware, then an EEPROM module unlike the receiver's own: the download
    // replaces the EEPROM it holds, one byte of it stored changed.
    ReceiverModule eeprom = SyntheticMemory()[1];
    std::reverse(eeprom.data.begin(), eeprom.data.end());
    ReceiverOptions options;
    std::string error;
    ASSERT_TRUE(ParseReceiverFault("corrupt:2:5", options.faults.emplace_back(), error)) << error;
    m_receiver.KeepReceived();
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    ASSERT_TRUE(testsupport::PlayDownloadPc(m_pc, m_path, {SmallFirmware(3000), eeprom}, 0x01, FUNC_PROGRAM, error))
        << error;
    const auto downloaded = m_receiver.WaitForResult(10s);
    ASSERT_TRUE(downloaded && downloaded->bSucceeded) << (downloaded ? downloaded->strText : "no result");

    options = {};
    options.role = ReceiverRole::Upload;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    std::vector<ReceiverModule> got;
    ASSERT_TRUE(testsupport::PlayUploadPc(m_pc, got, error)) << error;
    ASSERT_EQ(got.size(), 2u) << "firmware is not data memory";
    EXPECT_EQ(got[0].data, SyntheticMemory()[0].data) << "the flash it held stays";
    Bytes expected = eeprom.data;
    expected[5] = std::uint8_t(~expected[5]);
    EXPECT_EQ(got[1].data, expected);
}

TEST_F(SimulatedReceiverTest, PowerOffAndStopEndAPacedSessionPromptly)
{
    std::atomic<int> finished{0};
    ReceiverOptions options;
    options.role = ReceiverRole::Upload;
    options.nRate = kReceiverNoRate;
    options.bPace = true;
    options.nPaceBaud = 300; // a packet takes 34 s on the wire
    std::string error;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_READY});
    m_pc.Send({VR520_READY});
    m_pc.Receive(1, 5s);
    m_pc.Send({FUNC_UPLOAD_DIGITAL});
    m_pc.Receive(2, 5s);
    m_pc.Send({HEADER_REQUEST});
    m_pc.Receive(3, 5s);
    m_pc.Send({PACKET_REQUEST, 1});
    EXPECT_FALSE(m_pc.Receive(2, 5s).empty()) << "the packet has begun";

    auto start = std::chrono::steady_clock::now();
    m_receiver.PowerOff();
    const auto result = m_receiver.WaitForResult(5s);
    ASSERT_TRUE(result);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_FALSE(result->bSucceeded);
    EXPECT_EQ(result->strText, "powered off");

    // Off: what the PC sends is dropped, and a new session starts clean.
    m_pc.ReceiveAvailable(200ms);
    m_pc.Send({0x69, 0x02, 0x70});
    std::this_thread::sleep_for(100ms);
    options.bPace = false;
    options.role = ReceiverRole::Download;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_READY});
    m_pc.Send({VR520_READY});
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_FUNC});

    start = std::chrono::steady_clock::now();
    m_receiver.Stop();
    EXPECT_LT(SecondsSince(start), 2.0);
    const auto stopped = m_receiver.WaitForResult(1s);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->strText, "stopped");
    EXPECT_FALSE(m_receiver.PowerOn(options, error)) << "the line is closed";
}

TEST_F(SimulatedReceiverTest, PowerOnRightAfterPowerOffPowerCycles)
{
    std::vector<std::string> ends;
    std::mutex endsMutex;
    m_receiver.SetFinished([&](const ReceiverResult& result) {
        std::lock_guard lock(endsMutex);
        ends.push_back(result.strText);
    });
    ReceiverOptions options;
    options.nRate = kReceiverNoRate;
    std::string error;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_READY});
    m_receiver.PowerOff();
    EXPECT_FALSE(m_receiver.IsPoweredOn());
    options.nRate = kReceiverAnyRate;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    // On and off again: that session is dropped unreported if it had not begun yet
    // (the thread may have begun it already: then it reports "powered off").
    m_receiver.PowerOff();
    options.role = ReceiverRole::Upload;
    ASSERT_TRUE(m_receiver.PowerOn(options, error)) << error;
    EXPECT_TRUE(m_receiver.IsPoweredOn());
    std::vector<std::uint8_t> got = m_pc.Receive(1, 5s);
    while (got == Bytes{VR520_READY})
        got = m_pc.Receive(1, 5s);
    EXPECT_EQ(got, Bytes{VR520_RATE}) << "the last session announces itself";
    m_receiver.PowerOff();
    const auto result = m_receiver.WaitForResult(5s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->strText, "powered off");
    std::lock_guard lock(endsMutex);
    EXPECT_GE(ends.size(), 2u);
    EXPECT_LE(ends.size(), 3u);
    for (const auto& end : ends)
        EXPECT_EQ(end, "powered off");
}

TEST_F(SimulatedReceiverTest, BadOptionsAreRefusedBeforePowerOn)
{
    ReceiverOptions options;
    options.role = ReceiverRole::Upload;
    options.strSavePath = "/tmp/x.bin";
    std::string error;
    EXPECT_FALSE(m_receiver.PowerOn(options, error));
    EXPECT_NE(error.find("--save"), std::string::npos);
    options = {};
    options.nRate = 12345;
    EXPECT_FALSE(m_receiver.PowerOn(options, error));
    options = {};
    options.faults = {ReceiverFault{ReceiverFaultKind::Crc, 1}};
    EXPECT_FALSE(m_receiver.PowerOn(options, error)) << "an upload fault in the download role";
    EXPECT_FALSE(m_receiver.IsPoweredOn());
}

TEST(SimulatedReceiverOnDevice, ServesADeviceItDidNotCreate)
{
    // The PC holds the master of a pseudo-terminal; the receiver opens the slave
    // as it would open a serial device.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    auto receive = [master](std::size_t count) {
        Bytes bytes;
        while (bytes.size() < count)
        {
            pollfd fd{master, POLLIN, 0};
            if (poll(&fd, 1, 5000) <= 0)
                break;
            std::uint8_t buffer[128];
            const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    };
    auto send = [master](const Bytes& bytes) { return ::write(master, bytes.data(), bytes.size()); };

    CSimulatedReceiver receiver;
    std::string error;
    ASSERT_TRUE(receiver.StartOnDevice(name, error)) << error;
    EXPECT_EQ(receiver.SlavePath(), name);
    ReceiverOptions options;
    options.nRate = kReceiverNoRate;
    ASSERT_TRUE(receiver.PowerOn(options, error)) << error;
    EXPECT_EQ(receive(1), Bytes{VR520_READY});
    send({VR520_READY});
    EXPECT_EQ(receive(1), Bytes{VR520_FUNC});
    send({FUNC_DIGITAL});
    EXPECT_EQ(receive(2), (Bytes{0x01, VR520_HEADER2}));
    auto end = InitialModuleHeader();
    end.bytes[0] = 0;
    const auto message = BuildControlMessage(end);
    send(Bytes(message.begin(), message.end()));
    const auto result = receiver.WaitForResult(5s);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->bSucceeded) << result->strText;
    EXPECT_TRUE(result->modules.empty());
    receiver.Stop();
    ::close(master);

    EXPECT_FALSE(receiver.StartOnDevice("/nonexistent/ttyX", error));
    EXPECT_NE(error.find("/nonexistent/ttyX"), std::string::npos);
}

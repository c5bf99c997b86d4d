// `kavdm receiver` as a process: the test plays the PC on the pseudo-terminal
// the receiver prints, and checks exit codes and the files it writes or serves.
#include "receiver/ReceiverImage.h"

#include "support/ReceiverPcEnd.h"
#include "support/ReceiverProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using testsupport::CReceiverPcEnd;
using testsupport::CReceiverProcess;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace
{
Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ReceiverModule Firmware(int length, std::uint8_t seed)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = 0x42;
    module.header.bytes[31] = 1;
    module.header.setProgramLength(std::uint32_t(length));
    for (int i = 0; i < length; ++i)
        module.data.push_back(std::uint8_t(i * 29 + seed + (i >> 10)));
    return module;
}

class ReceiverCliTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    void Launch(const std::vector<std::string>& args)
    {
        std::string error;
        ASSERT_TRUE(m_process.Start(KAVDM_BINARY, args, error)) << error;
        ASSERT_TRUE(m_pc.Open(m_process.PtyPath())) << m_process.PtyPath();
    }

    std::string m_dir;
    CReceiverProcess m_process;
    CReceiverPcEnd m_pc;
};
} // namespace

TEST_F(ReceiverCliTest, DownloadSavesTheImageByteExact)
{
    const std::string save = m_dir + "/received.bin";
    Launch({"--rate", "115200", "--save", save, "--timeout", "20"});
    const std::vector<ReceiverModule> modules = {Firmware(40000, 1), SyntheticMemory()[1], SyntheticMemory()[2]};
    std::string error;
    ASSERT_TRUE(testsupport::PlayDownloadPc(m_pc, m_process.PtyPath(), modules, 0x05, FUNC_DIGITAL_ANALOG, error))
        << error;
    EXPECT_EQ(m_process.Wait(15s), 0) << m_process.Stderr();
    EXPECT_EQ(ReadAll(save), BuildBinImage(modules));
    EXPECT_NE(m_process.Stderr().find("complete"), std::string::npos);
}

TEST_F(ReceiverCliTest, KeepServesTheDownloadToTheUploadAfterIt)
{
    // The upload's fault waits for the upload; the corrupt fault changes what the download stored.
    Launch({"--keep", "--rate", "115200", "--fault", "corrupt:1:3", "--fault", "crc:1"});
    ReceiverModule eeprom = SyntheticMemory()[1];
    std::reverse(eeprom.data.begin(), eeprom.data.end());
    std::string error;
    ASSERT_TRUE(testsupport::PlayDownloadPc(m_pc, m_process.PtyPath(), {eeprom}, 0x05, FUNC_DIGITAL, error)) << error;
    std::vector<ReceiverModule> got;
    ASSERT_TRUE(testsupport::PlayUploadPc(m_pc, got, error, 2s)) << error;
    EXPECT_EQ(m_process.Wait(15s), 0) << m_process.Stderr();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, SyntheticMemory()[0].data);
    eeprom.data[3] = std::uint8_t(~eeprom.data[3]);
    EXPECT_EQ(got[1].data, eeprom.data);
}

TEST_F(ReceiverCliTest, UploadServesAnImageThroughFaults)
{
    const std::string image = m_dir + "/memory.bin";
    const ReceiverModule eeprom = SyntheticMemory()[1];
    ReceiverModule second = eeprom;
    for (auto& byte : second.data)
        byte = std::uint8_t(byte ^ 0xA5);
    std::string error;
    ASSERT_TRUE(SaveBinImage(image, {eeprom, second}, error)) << error;
    Launch({"--role", "upload", "--image", image, "--fault", "crc:1", "--fault", "drop:3", "--verbose"});
    std::vector<ReceiverModule> got;
    ASSERT_TRUE(testsupport::PlayUploadPc(m_pc, got, error, 2s)) << error;
    EXPECT_EQ(m_process.Wait(15s), 0) << m_process.Stderr();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, eeprom.data);
    EXPECT_EQ(got[1].data, second.data);
    // --verbose tells what happened on the way.
    EXPECT_NE(m_process.Stderr().find("wrong CRC"), std::string::npos) << m_process.Stderr();
    EXPECT_NE(m_process.Stderr().find("requested again"), std::string::npos);
}

TEST_F(ReceiverCliTest, StatusFaultEndsWithFailure)
{
    Launch({"--no-rate", "--fault", "status:1:W"});
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_READY});
    m_pc.Send({VR520_READY});
    EXPECT_EQ(m_pc.Receive(1, 5s), Bytes{VR520_FUNC});
    m_pc.Send({FUNC_PROGRAM});
    EXPECT_EQ(m_pc.Receive(2, 5s), (Bytes{0x01, VR520_HEADER2}));
    const auto message = BuildControlMessage(Firmware(100, 1).header);
    m_pc.Send(Bytes(message.begin(), message.end()));
    EXPECT_EQ(m_pc.Receive(2, 5s), (Bytes{'P', 'W'}));
    EXPECT_EQ(m_process.Wait(10s), 1) << m_process.Stderr();
}

TEST_F(ReceiverCliTest, SilenceFailsAfterTheTimeout)
{
    Launch({"--timeout", "1"});
    EXPECT_EQ(m_process.Wait(10s), 1);
    EXPECT_NE(m_process.Stderr().find("no answer from the PC"), std::string::npos) << m_process.Stderr();
}

TEST(ReceiverCliUsage, BadArgumentsExitWithUsageOrFailure)
{
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"--role", "upload", "--save", "x.bin"}, 2},
        {{"--fault", "nope"}, 2},
        {{"--fault", "crc:1"}, 2},
        {{"--rate", "1234"}, 2},
        {{"--rate", "fast"}, 2},
        {{"--pace", "slow"}, 2},
        {{"--timeout", "0"}, 2},
        {{"--role", "sideways"}, 2},
        {{"--keep", "--role", "upload"}, 2},
        {{"--role", "upload", "--image", "/nonexistent/memory.bin"}, 1},
    };
    for (const auto& [args, code] : cases)
    {
        CReceiverProcess process;
        std::string error;
        EXPECT_FALSE(process.Start(KAVDM_BINARY, args, error)) << args[1];
        EXPECT_EQ(process.Wait(5s), code) << args[1] << ": " << process.Stderr();
        EXPECT_FALSE(process.Stderr().empty());
    }
}

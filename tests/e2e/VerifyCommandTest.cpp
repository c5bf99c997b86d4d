// Reading the receiver back to check a download, against `kavdm receiver --pty
// --keep` as a process with real timing: a download that verifies, a byte the
// receiver stored wrongly named by its module and offset, and an image that
// cannot be checked refused before anything waits.
#include "image/ModuleKind.h"
#include "support/CommandProcess.h"
#include "support/DownloadHarness.h"
#include "support/PtyPair.h"
#include "support/ReceiverProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace std::chrono_literals;
using testsupport::FindEvent;

namespace
{
class VerifyCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strFolder = testsupport::MakeTempDir();
        // Data modules of two kinds: the read-back asks for all.
        const auto image = testsupport::MakeImage(
            {MakeModuleHeader(ModuleKind::DigitalEeprom), MakeModuleHeader(ModuleKind::Analog)});
        m_strImage = Write("data.bin", image);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_strFolder, ignored);
    }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = m_strFolder + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        return path;
    }
    // Starts a receiver that keeps what the download brings, with `faults`.
    void StartReceiver(const std::vector<std::string>& faults)
    {
        std::vector<std::string> args = {"--keep", "--rate", "115200", "--timeout", "20"};
        args.insert(args.end(), faults.begin(), faults.end());
        std::string error;
        ASSERT_TRUE(m_receiver.Start(KAVDM_BINARY, args, error)) << error;
    }
    // `kavdm SUBCOMMAND IMAGE --port RECEIVER ...`: its exit code; the output is kept.
    int Run(const std::string& subcommand, const std::vector<std::string>& options)
    {
        std::vector<std::string> argv = {KAVDM_BINARY, subcommand, m_strImage, "--port", m_receiver.PtyPath(),
                                         "--wait", "20"};
        argv.insert(argv.end(), options.begin(), options.end());
        return testsupport::RunCommand(argv, m_strOutput, 120s);
    }

    std::string m_strFolder;
    std::string m_strImage;
    std::string m_strOutput;
    testsupport::CReceiverProcess m_receiver;
};
} // namespace

TEST_F(VerifyCommandTest, DownloadVerifyReadsTheReceiverBackAndPasses)
{
    StartReceiver({});
    ASSERT_EQ(Run("download", {"--baud", "115200", "--verify", "--json"}), 0) << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_NE(m_strOutput.find("switch the receiver to standby and on again"), std::string::npos) << m_strOutput;

    const auto events = testsupport::JsonLines(m_strOutput);
    EXPECT_FALSE(FindEvent(events, "readback").is_null()) << m_strOutput;
    const auto verify = FindEvent(events, "verify");
    ASSERT_TRUE(verify.is_object()) << m_strOutput;
    EXPECT_EQ(verify["result"], "verified");
    EXPECT_EQ(verify["upload"], "all");
    ASSERT_EQ(verify["modules"].size(), 2u);
    EXPECT_EQ(verify["modules"][1]["kind"], "analog");
    EXPECT_EQ(verify["modules"][1]["result"], "verified");
    const auto ended = FindEvent(events, "ended");
    EXPECT_EQ(ended["result"], "complete");
    EXPECT_EQ(ended["verified"], true);
}

TEST_F(VerifyCommandTest, AByteStoredWronglyIsNamedByItsModuleAndOffset)
{
    StartReceiver({"--fault", "corrupt:2:1000"});
    ASSERT_EQ(Run("download", {"--baud", "115200"}), 0) << m_strOutput;
    const std::string saved = m_strFolder + "/back.bin";
    EXPECT_EQ(Run("verify", {"--save", saved}), 1) << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_NE(m_strOutput.find("  1  digital-eeprom"), std::string::npos) << m_strOutput;
    EXPECT_NE(m_strOutput.find("  2  analog               14336  "), std::string::npos) << m_strOutput;
    EXPECT_NE(m_strOutput.find("differs at offset 1000 (1 byte)"), std::string::npos) << m_strOutput;
    EXPECT_NE(m_strOutput.find("result: different: 1 of 2 modules"), std::string::npos) << m_strOutput;
    // --save keeps what was read: the receiver's three memories, each behind its header block.
    EXPECT_EQ(std::filesystem::file_size(saved), 3u * 64 + 278528u);
}

TEST_F(VerifyCommandTest, AnImageOfFirmwareOnlyIsRefusedBeforeWaiting)
{
    m_strImage = Write("fw.bin", testsupport::MakeImage({MakeModuleHeader(ModuleKind::Firmware, 3000)}));
    testsupport::CPtyPair line; // no receiver: a wait would last the whole --wait
    const auto started = std::chrono::steady_clock::now();
    const int code = testsupport::RunCommand(
        {KAVDM_BINARY, "verify", m_strImage, "--port", line.SlavePath(), "--wait", "30"}, m_strOutput, 60s);
    EXPECT_EQ(code, 1) << m_strOutput;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_NE(m_strOutput.find("holds firmware only: a receiver cannot send firmware back"), std::string::npos)
        << m_strOutput;
    EXPECT_EQ(m_strOutput.find("waiting for the receiver"), std::string::npos) << m_strOutput;
}

// `kavdm download` against `kavdm receiver --pty`, both as processes with real
// timing: whole images arrive byte for byte, faults end with the right exit
// code, and the command's own refusals, time-out and interruption.
#include "image/ModuleKind.h"
#include "image/StbCodec.h"
#include "protocol/WireFormat.h"
#include "support/CommandProcess.h"
#include "support/PtyPair.h"
#include "support/DownloadHarness.h"
#include "support/ReceiverProcess.h"
#include "support/ScriptedLine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CCommandProcess;
using testsupport::CReceiverProcess;
using testsupport::MakeImage;
using Bytes = std::vector<std::uint8_t>;

namespace
{
class DownloadCommandTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strFolder = testsupport::MakeTempDir(); }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_strFolder, ignored);
    }

    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_strFolder + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    Bytes Read(const std::string& name)
    {
        std::ifstream in(m_strFolder + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // Runs the receiver with `receiverArgs` and `kavdm download IMAGE` against it;
    // returns the download's exit code and keeps both outputs.
    int Download(const std::string& image, const std::vector<std::string>& receiverArgs,
                 const std::vector<std::string>& downloadArgs = {"--baud", "115200"})
    {
        std::string error;
        std::vector<std::string> args = {"--save", m_strFolder + "/received.bin", "--timeout", "10"};
        args.insert(args.end(), receiverArgs.begin(), receiverArgs.end());
        if (!m_receiver.Start(KAVDM_BINARY, args, error))
        {
            ADD_FAILURE() << "receiver: " << error;
            return -1;
        }
        std::vector<std::string> argv = {KAVDM_BINARY, "download", image, "--port", m_receiver.PtyPath(), "--wait",
                                         "20"};
        argv.insert(argv.end(), downloadArgs.begin(), downloadArgs.end());
        const int code = testsupport::RunCommand(argv, m_strOutput, 120s);
        m_nReceiverExit = m_receiver.Wait(15s);
        return code;
    }

    std::string m_strFolder;
    std::string m_strOutput;
    CReceiverProcess m_receiver;
    int m_nReceiverExit = -1;
};

ModuleHeader Header(ModuleKind kind, std::uint32_t length = 0)
{
    return MakeModuleHeader(kind, length);
}
} // namespace

TEST_F(DownloadCommandTest, BinImageOfSeveralModulesArrivesByteExactAt115200)
{
    const Bytes image = MakeImage({Header(ModuleKind::DigitalEeprom), Header(ModuleKind::Analog),
                                   Header(ModuleKind::DigitalEeprom)});
    const int code = Download(Write("mixed.bin", image), {"--rate", "115200"});
    EXPECT_EQ(code, 0) << m_strOutput;
    EXPECT_EQ(m_nReceiverExit, 0) << m_receiver.Stderr();
    EXPECT_EQ(Read("received.bin"), image);
    EXPECT_NE(m_strOutput.find("Download Complete"), std::string::npos) << m_strOutput;
}

TEST_F(DownloadCommandTest, StbImageOfSeveralModulesArrivesByteExactAt115200)
{
    const Bytes image = MakeImage({Header(ModuleKind::Firmware, 40000), Header(ModuleKind::Firmware, 3000)});
    const auto stb = EncodeStb(image);
    ASSERT_TRUE(stb.ok());
    const int code = Download(Write("fw.stb", stb.stream), {"--rate", "115200"}, {"--baud", "115200", "--verbose"});
    EXPECT_EQ(code, 0) << m_strOutput;
    EXPECT_EQ(m_nReceiverExit, 0) << m_receiver.Stderr();
    EXPECT_EQ(Read("received.bin"), image);
    EXPECT_NE(m_strOutput.find("[sd msg] download program"), std::string::npos) << "--verbose prints the log";
}

TEST_F(DownloadCommandTest, RestartMidTransferStillCompletes)
{
    const Bytes image = MakeImage({Header(ModuleKind::Firmware, 20000)});
    const int code = Download(Write("fw.bin", image), {"--rate", "57600", "--fault", "restart:5"}, {"--baud", "57600"});
    EXPECT_EQ(code, 0) << m_strOutput;
    EXPECT_EQ(m_nReceiverExit, 0) << m_receiver.Stderr();
    EXPECT_EQ(Read("received.bin"), image);
}

TEST_F(DownloadCommandTest, StatusReportEndsTheDownloadAsFailed)
{
    const Bytes image = MakeImage({Header(ModuleKind::Firmware, 20000)});
    const int code = Download(Write("fw.bin", image), {"--fault", "status:3:W"});
    EXPECT_EQ(code, 1) << m_strOutput;
    EXPECT_EQ(testsupport::LastLine(m_strOutput), "kavdm download: the transfer ended without completing: ended by "
                                                  "the receiver's status report: ERROR  : Checksum check")
        << m_strOutput;
}

TEST_F(DownloadCommandTest, AFunctionRequestRightBehindARepeatedReadyIsAlwaysServed)
{
    // The far end answers at once, many times over: each ready the page
    // answers is met by a repeat of it and the function request in one go,
    // which the page must serve, and a restart brings the next round.
    testsupport::CPtyPair line;
    const std::string image = Write("fw.bin", MakeImage({Header(ModuleKind::Firmware, 3000)}));
    CCommandProcess download;
    ASSERT_TRUE(download.Start({KAVDM_BINARY, "download", image, "--port", line.SlavePath(), "--wait", "10"}));
    for (int i = 0; i < 200 && download.Output().find("waiting for the receiver") == std::string::npos; ++i)
        std::this_thread::sleep_for(20ms);
    const Bytes ready{VR520_READY};
    const Bytes readyAndFunction{VR520_READY, VR520_FUNC};
    constexpr int kRounds = 60;
    int served = 0;
    ASSERT_TRUE(line.Send(ready.data(), 1));
    for (; served < kRounds; ++served)
    {
        if (line.Receive(1, 3s) != std::vector<unsigned char>{VR520_READY})
            break;
        line.Send(readyAndFunction.data(), readyAndFunction.size());
        if (line.Receive(1, 3s) != std::vector<unsigned char>{FUNC_PROGRAM})
            break;
        line.Send(ready.data(), 1); // the receiver starts over
    }
    line.Receive(1, 3s);
    line.Send("PS");
    EXPECT_EQ(download.Wait(10s), 0) << download.Output();
    EXPECT_EQ(served, kRounds) << download.Output();
}

TEST_F(DownloadCommandTest, ImageWithoutAModuleIsRefusedBeforeWaiting)
{
    std::string output;
    const std::string path = Write("tiny.bin", MakeImage({Header(ModuleKind::Firmware, 100)}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path, "--port", "/dev/null"}, output, 30s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_NE(output.find("BIN file is invalid."), std::string::npos) << output;

    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", m_strFolder + "/missing.bin", "--port", "COM2"},
                                      output, 30s),
              1);

    // A port that will not open is reported with the system's reason, and nothing waits.
    const std::string good = Write("fw.bin", MakeImage({Header(ModuleKind::Firmware, 5000)}));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", good, "--port", m_strFolder + "/no-such-tty"}, output,
                                      30s),
              1);
    EXPECT_NE(output.find("ERROR: Cannot open COM2 port!"), std::string::npos) << output;
    EXPECT_NE(output.find("No such file or directory"), std::string::npos) << output;
}

TEST_F(DownloadCommandTest, AFifoAsTheImageOrTheLogIsRefusedAtOnce)
{
    const std::string fifo = m_strFolder + "/fifo.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = Write("fw.bin", MakeImage({Header(ModuleKind::Firmware, 5000)}));
    struct Case
    {
        std::vector<std::string> argv;
        std::string said;
    };
    for (const auto& [argv, said] :
         {Case{{KAVDM_BINARY, "download", fifo, "--port", "/dev/null"}, "it is a FIFO (named pipe), not a regular file"},
          Case{{KAVDM_BINARY, "download", good, "--port", "/dev/null", "--log", fifo},
               "it is a FIFO (named pipe) that nobody reads"}})
    {
        std::string output;
        EXPECT_EQ(testsupport::RunCommand(argv, output, 10s), 1) << output;
        EXPECT_NE(output.find(said), std::string::npos) << output;
    }
}

TEST_F(DownloadCommandTest, UsageErrorsExitWithTwo)
{
    std::string output;
    const std::string path = Write("fw.bin", MakeImage({Header(ModuleKind::Firmware, 5000)}));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path, "--port", "COM2", "--baud", "1234"}, output,
                                      30s),
              2);
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path}, output, 30s), 2);
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path, "--port", "ttyUSB0"}, output, 30s), 2);
    EXPECT_NE(output.find("not a port"), std::string::npos) << output;
    for (const char* wait : {"nan", "inf", "-1", "0", "5s"})
    {
        EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path, "--port", "COM2", "--wait", wait},
                                          output, 30s),
                  2)
            << wait;
        EXPECT_NE(output.find("not a time to wait"), std::string::npos) << output;
    }
}

TEST_F(DownloadCommandTest, SilentReceiverTimesOutAndSignalsCloseCleanly)
{
    testsupport::CScriptedLine line(9); // a line nobody talks on
    const std::string path = Write("fw.bin", MakeImage({Header(ModuleKind::Firmware, 5000)}));
    std::string output;
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", path, "--port", line.Path(), "--wait", "1"}, output,
                                      30s),
              3)
        << output;

    // A wait far beyond any clock's count is still a wait, ended here by each
    // of the signals that end a run.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    {
        CCommandProcess process;
        ASSERT_TRUE(process.Start({KAVDM_BINARY, "download", path, "--port", line.Path(), "--wait", "1e10"}));
        std::this_thread::sleep_for(500ms);
        process.Signal(signal);
        EXPECT_EQ(process.Wait(10s), 128 + signal) << process.Output();
        EXPECT_NE(process.Output().find("interrupted"), std::string::npos) << process.Output();
    }
}

TEST_F(DownloadCommandTest, ReceiverThatVanishesMidTransferEndsTheDownloadAsFailed)
{
    const Bytes image = MakeImage({Header(ModuleKind::Firmware, 60000)});
    const std::string path = Write("fw.bin", image);
    std::string error;
    ASSERT_TRUE(m_receiver.Start(KAVDM_BINARY, {"--rate", "9600", "--pace", "--timeout", "20"}, error)) << error;
    CCommandProcess download;
    ASSERT_TRUE(download.Start({KAVDM_BINARY, "download", path, "--port", m_receiver.PtyPath()}));
    std::this_thread::sleep_for(1500ms); // well inside the 60000 bytes at 9600 baud
    m_receiver.Kill();
    EXPECT_EQ(download.Wait(10s), 1) << download.Output();
    EXPECT_NE(download.Output().find("Lost the COM2 port"), std::string::npos) << download.Output();
}

TEST_F(DownloadCommandTest, ALogThatCannotBeWrittenIsSaidOnceAndTheTransferGoesOn)
{
    const Bytes image = MakeImage({Header(ModuleKind::Firmware, 20000)});
    EXPECT_EQ(Download(Write("fw.bin", image), {}, {"--log", "/dev/full"}), 0) << m_strOutput;
    EXPECT_EQ(Read("received.bin"), image);
    const std::string said = "cannot write the log /dev/full: No space left on device";
    const auto first = m_strOutput.find(said);
    EXPECT_NE(first, std::string::npos) << m_strOutput;
    EXPECT_EQ(m_strOutput.find(said, first + 1), std::string::npos) << "said once: " << m_strOutput;
}

TEST_F(DownloadCommandTest, AReceiverThatAnnouncesItselfJustAfterThePortOpensIsAnswered)
{
    // The port opens once the (STB) image is loaded, not before: the
    // receiver's rate query 50 ms after the open is answered.
    testsupport::CScriptedLine line(9);
    const auto stb = EncodeStb(MakeImage({Header(ModuleKind::Firmware, 200000)}));
    CCommandProcess download;
    ASSERT_TRUE(download.Start(
        {KAVDM_BINARY, "download", Write("fw.stb", stb.stream), "--port", line.Path(), "--wait", "10"}));
    // The open sets the line to 9600 baud (a fresh pseudo-terminal is at 38400).
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (line.BaudRate() != 9600 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(line.BaudRate(), 9600) << download.Output();
    std::this_thread::sleep_for(50ms);
    line.Send({VR520_RATE});
    EXPECT_EQ(line.TakeExactly(1, 3000), Bytes{std::uint8_t(RateCodeFor(9600))}) << download.Output();
    download.Signal(SIGTERM);
    EXPECT_EQ(download.Wait(10s), 128 + SIGTERM);
}

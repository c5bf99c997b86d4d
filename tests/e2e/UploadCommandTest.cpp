// `kavdm upload` against `kavdm receiver --pty --role upload`, both as processes
// with real timing: the receiver's memory arrives byte for byte through faults,
// downloads back unchanged, and the user's earlier file survives every failure.
#include "protocol/WireFormat.h"
#include "support/CommandProcess.h"
#include "support/ReceiverProcess.h"
#include "support/ScriptedLine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CCommandProcess;
using testsupport::CReceiverProcess;
using Bytes = std::vector<std::uint8_t>;

namespace
{
// A module as the PC writes it: the initial record with the received kind and
// size, twenty 0xFF, then the data.
void AppendModule(Bytes& image, std::uint8_t digital, std::uint8_t flash, std::uint32_t seed)
{
    ModuleHeader header = InitialModuleHeader();
    header.bytes[0] = 1;
    header.bytes[31] = 0;
    header.bytes[32] = digital;
    header.bytes[33] = flash;
    const int length = ModuleDataLength(header);
    for (int i = 0; i < 4; ++i)
        header.bytes[36 + i] = std::uint8_t(std::uint32_t(length) >> (8 * i));
    const auto block = BuildControlMessage(header);
    image.insert(image.end(), block.begin(), block.end());
    std::uint32_t state = seed;
    for (int i = 0; i < length; ++i)
    {
        state = state * 1103515245u + 12345u;
        image.push_back(std::uint8_t(state >> 16));
    }
}

class UploadCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strFolder = testsupport::MakeTempDir();
        AppendModule(m_memory, 1, 1, 11);
        AppendModule(m_memory, 1, 0, 22);
        m_strImage = Write("memory.bin", m_memory);
        m_strOutput = m_strFolder + "/backup.bin";
    }
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
    Bytes Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // Bytes in the upload's hidden temporary file beside the output.
    std::uintmax_t WrittenSoFar() const
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(m_strFolder, ignored))
            if (entry.path().filename().string().rfind(".backup.bin.", 0) == 0)
                return entry.file_size(ignored);
        return 0;
    }

    bool StartReceiver(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {"--role", "upload", "--image", m_strImage, "--timeout", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        if (!m_receiver.Start(KAVDM_BINARY, args, error))
        {
            ADD_FAILURE() << "receiver: " << error;
            return false;
        }
        return true;
    }

    // Runs the receiver with `receiverArgs` and `kavdm upload` against it;
    // returns the upload's exit code and keeps both outputs.
    int Upload(const std::vector<std::string>& receiverArgs, const std::vector<std::string>& uploadArgs = {})
    {
        if (!StartReceiver(receiverArgs))
            return -1;
        std::vector<std::string> argv = {KAVDM_BINARY, "upload", m_strOutput, "--port", m_receiver.PtyPath(),
                                         "--wait", "20"};
        argv.insert(argv.end(), uploadArgs.begin(), uploadArgs.end());
        const int code = testsupport::RunCommand(argv, m_strCommandOutput, 120s);
        m_nReceiverExit = m_receiver.Wait(15s);
        return code;
    }

    std::string m_strFolder;
    std::string m_strImage;
    std::string m_strOutput;
    std::string m_strCommandOutput;
    Bytes m_memory;
    CReceiverProcess m_receiver;
    int m_nReceiverExit = -1;
};
} // namespace

TEST_F(UploadCommandTest, FlashAndEepromArriveByteExactThroughACrcFaultAndALostPacket)
{
    Write("backup.bin", Bytes{'o', 'l', 'd'});
    ASSERT_EQ(Upload({"--fault", "crc:5", "--fault", "drop:200"}, {"--verbose"}), 0)
        << m_strCommandOutput << m_receiver.Stderr();
    EXPECT_EQ(m_nReceiverExit, 0) << m_receiver.Stderr();
    EXPECT_EQ(Read(m_strOutput), m_memory);
    EXPECT_NE(m_strCommandOutput.find("CRC Error"), std::string::npos) << m_strCommandOutput;
    EXPECT_NE(m_strCommandOutput.find("Timeout : Request retransmission (200)"), std::string::npos);
    EXPECT_NE(m_strCommandOutput.find("kavdm upload: complete"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_strOutput + ".partial"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_strFolder), {}), 2) << "no temporary file left";
}

TEST_F(UploadCommandTest, SmallChunksSplitHeaderAndADuplicateStillGiveTheSameFile)
{
    ASSERT_EQ(Upload({"--fault", "chunks:37:1", "--fault", "split-header", "--fault", "dup:3", "--fault", "ppp:7"},
                     {"--verbose"}),
              0)
        << m_strCommandOutput << m_receiver.Stderr();
    EXPECT_EQ(Read(m_strOutput), m_memory);
    EXPECT_NE(m_strCommandOutput.find("Duplicate packet (3) dropped"), std::string::npos) << m_strCommandOutput;
    EXPECT_NE(m_strCommandOutput.find("Error Happened"), std::string::npos);
}

TEST_F(UploadCommandTest, TheUploadedFileDownloadsBackUnchanged)
{
    ASSERT_EQ(Upload({}), 0) << m_strCommandOutput << m_receiver.Stderr();
    ASSERT_EQ(Read(m_strOutput), m_memory);

    CReceiverProcess receiver;
    std::string error;
    const std::string saved = m_strFolder + "/received.bin";
    ASSERT_TRUE(receiver.Start(KAVDM_BINARY, {"--role", "download", "--save", saved, "--timeout", "20"}, error))
        << error;
    std::string output;
    const int code = testsupport::RunCommand(
        {KAVDM_BINARY, "download", m_strOutput, "--port", receiver.PtyPath(), "--wait", "20", "--baud", "115200"},
        output, 120s);
    ASSERT_EQ(code, 0) << output << receiver.Stderr();
    EXPECT_EQ(receiver.Wait(15s), 0) << receiver.Stderr();
    EXPECT_EQ(Read(saved), m_memory);
}

TEST_F(UploadCommandTest, RefusedUploadFailsAndLeavesTheEarlierFileAlone)
{
    Write("backup.bin", Bytes{'o', 'l', 'd'});
    EXPECT_EQ(Upload({"--fault", "refuse"}), 1) << m_strCommandOutput;
    EXPECT_EQ(Read(m_strOutput), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(m_strOutput + ".partial"));
}

TEST_F(UploadCommandTest, InterruptedUploadKeepsThePartialDataBesideTheEarlierFile)
{
    // A second, different signal, again and again from `gap` after the first
    // on, waits for the clean end the first began; the first is the one that
    // counts, also when the second has the lower number.
    struct Signals
    {
        int signal, second;
        std::chrono::milliseconds gap;
    };
    for (const auto& [signal, second, gap] :
         {Signals{SIGINT, SIGTERM, 0ms}, Signals{SIGHUP, SIGQUIT, 0ms}, Signals{SIGQUIT, SIGINT, 10ms}})
    {
        std::filesystem::remove(m_strOutput + ".partial");
        Write("backup.bin", Bytes{'o', 'l', 'd'});
        CReceiverProcess receiver;
        std::string error;
        const std::vector<std::string> receiverArgs = {"--role", "upload", "--image", m_strImage,
                                                       "--timeout", "20", "--pace", "115200"};
        ASSERT_TRUE(receiver.Start(KAVDM_BINARY, receiverArgs, error)) << error;
        CCommandProcess upload;
        ASSERT_TRUE(upload.Start(
            {KAVDM_BINARY, "upload", m_strOutput, "--port", receiver.PtyPath(), "--wait", "20"}));
        // Some packets in, far from the end (the whole takes about 23 s at this rate).
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (WrittenSoFar() < 64 + 8 * 1024 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        upload.Signal(signal);
        std::this_thread::sleep_for(gap);
        const auto until = std::chrono::steady_clock::now() + 20s;
        do
            upload.Signal(second);
        while (upload.Wait(1ms) < 0 && std::chrono::steady_clock::now() < until);
        EXPECT_EQ(upload.Wait(0ms), 128 + signal) << upload.Output();
        EXPECT_EQ(Read(m_strOutput), (Bytes{'o', 'l', 'd'}));
        const auto partial = Read(m_strOutput + ".partial");
        ASSERT_GT(partial.size(), 64u) << "signal " << signal;
        EXPECT_EQ((partial.size() - 64) % 1024, 0u);
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), m_memory.begin())) << "a prefix of the memory";
        EXPECT_NE(upload.Output().find("kept in " + m_strOutput + ".partial"), std::string::npos)
            << upload.Output();
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_strFolder), {}), 3)
            << "no temporary file left";
    }
}

TEST_F(UploadCommandTest, AClosedStandardOutputAndErrorDoNotEndTheUpload)
{
    ASSERT_TRUE(StartReceiver({}));
    CCommandProcess upload;
    ASSERT_TRUE(upload.Start({KAVDM_BINARY, "upload", m_strOutput, "--port", m_receiver.PtyPath(), "--wait", "20"},
                             CCommandProcess::Streams::ToClosedPipe));
    EXPECT_EQ(upload.Wait(120s), 0);
    EXPECT_EQ(Read(m_strOutput), m_memory);
}

TEST_F(UploadCommandTest, AnUploadStoppedLongerThanTheWaitGoesOnWhenTheReceiverWasHeardMeanwhile)
{
    ASSERT_TRUE(StartReceiver({}));
    CCommandProcess upload;
    ASSERT_TRUE(
        upload.Start({KAVDM_BINARY, "upload", m_strOutput, "--port", m_receiver.PtyPath(), "--wait", "3"}));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (WrittenSoFar() < 64 + 16 * 1024 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    // Ctrl-Z and fg: the receiver's answer waits in the port meanwhile.
    upload.Signal(SIGSTOP);
    std::this_thread::sleep_for(4s);
    upload.Signal(SIGCONT);
    EXPECT_EQ(upload.Wait(60s), 0) << upload.Output();
    EXPECT_EQ(Read(m_strOutput), m_memory);
}

TEST_F(UploadCommandTest, AReceiverSilentMidTransferEndsTheWaitAndKeepsWhatCame)
{
    Write("backup.bin", Bytes{'o', 'l', 'd'});
    Write("backup.bin.partial", Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    ASSERT_TRUE(StartReceiver({"--pace", "115200"}));
    CCommandProcess upload;
    ASSERT_TRUE(
        upload.Start({KAVDM_BINARY, "upload", m_strOutput, "--port", m_receiver.PtyPath(), "--wait", "2"}));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (WrittenSoFar() < 64 + 4 * 1024 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ::kill(m_receiver.Pid(), SIGSTOP); // the receiver falls silent mid-transfer
    const auto stopped = std::chrono::steady_clock::now();
    const int code = upload.Wait(15s);
    const auto waited = std::chrono::steady_clock::now() - stopped;
    ::kill(m_receiver.Pid(), SIGCONT);
    m_receiver.Kill();
    ASSERT_EQ(code, 3) << upload.Output();
    EXPECT_GE(waited, 1500ms);
    EXPECT_NE(upload.Output().find("the receiver was silent for 2 seconds"), std::string::npos)
        << upload.Output();
    EXPECT_EQ(Read(m_strOutput), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Read(m_strOutput + ".partial"), (Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'}))
        << "an older one is kept";
    const auto partial = Read(m_strOutput + ".1.partial");
    EXPECT_GT(partial.size(), 64u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), m_memory.begin()));
    EXPECT_NE(upload.Output().find("kept in " + m_strOutput + ".1.partial"), std::string::npos)
        << upload.Output();
    EXPECT_EQ(testsupport::LastLine(upload.Output()),
              "kavdm upload: the transfer ended without completing: the receiver was silent for the --wait time: "
              "2 seconds in the middle of the transfer")
        << upload.Output();
}

TEST_F(UploadCommandTest, RefusalsBeforeWaiting)
{
    std::string output;
    const std::string missing = m_strFolder + "/no-such-folder/backup.bin";
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", missing, "--port", "/dev/null"}, output, 20s), 1);
    EXPECT_NE(output.find("Cannot create " + missing + ": No such file or directory"), std::string::npos) << output;

    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", m_strOutput}, output, 20s), 2) << output;
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", m_strOutput, "--port", "ttyUSB0"}, output, 20s), 2)
        << output;
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", m_strOutput, "--port", "COM2", "--baud", "1234"},
                                      output, 20s),
              2)
        << output;
}

TEST_F(UploadCommandTest, NoReceiverWithinTheWaitExitsWithThree)
{
    testsupport::CScriptedLine line(9); // a silent line
    std::string output;
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", m_strOutput, "--port", line.Path(), "--wait", "1"},
                                      output, 30s),
              3)
        << output;
    EXPECT_FALSE(std::filesystem::exists(m_strOutput));
    EXPECT_FALSE(std::filesystem::exists(m_strOutput + ".partial"));
    EXPECT_EQ(output.find("warning"), std::string::npos) << "room enough here: " << output;
}

TEST_F(UploadCommandTest, AnAdapterPulledWhileWaitingEndsTheUpload)
{
    auto line = std::make_unique<testsupport::CScriptedLine>(9);
    CCommandProcess upload;
    ASSERT_TRUE(upload.Start({KAVDM_BINARY, "upload", m_strOutput, "--port", line->Path()}));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (upload.Output().find("waiting for the receiver") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    line.reset(); // the device goes away
    const auto pulled = std::chrono::steady_clock::now();
    EXPECT_EQ(upload.Wait(10s), 1) << upload.Output();
    std::printf("exit %lld ms after the port went\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - pulled)
                                           .count()));
    EXPECT_NE(upload.Output().find("Lost the COM2 port"), std::string::npos) << upload.Output();
    EXPECT_FALSE(std::filesystem::exists(m_strOutput));
}

TEST_F(UploadCommandTest, AFileSystemTooSmallForAWholeUploadIsWarnedOfBeforeWaiting)
{
    const std::string small = m_strFolder + "/small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "mounting a small file system needs privileges: " << std::strerror(errno);
    testsupport::CScriptedLine line(9);
    std::string output;
    const int code = testsupport::RunCommand(
        {KAVDM_BINARY, "upload", small + "/backup.bin", "--port", line.Path(), "--wait", "1"}, output, 30s);
    ::umount(small.c_str());
    EXPECT_EQ(code, 3) << output;
    const auto warning = output.find("warning: only 131072 bytes are free where " + small +
                                     "/backup.bin goes; a whole upload needs 264320");
    EXPECT_NE(warning, std::string::npos) << output;
    EXPECT_LT(warning, output.find("waiting for the receiver")) << output;
}

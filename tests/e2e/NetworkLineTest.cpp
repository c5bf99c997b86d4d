// `kavdm download` and `kavdm upload` over network lines: the simulated receiver
// on a pseudo-terminal, served by a real ser2net on the loopback interface.
#include "support/CommandProcess.h"
#include "support/ReceiverProcess.h"
#include "support/Ser2NetProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::CCommandProcess;
using testsupport::CReceiverProcess;
using testsupport::CSer2NetProcess;

namespace
{
const std::string kImage = std::string(KAVDM_SOURCE_DIR) + "/resources/samples/demo-firmware.bin";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class NetworkLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/sbin/ser2net"))
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh)";
        m_strFolder = testsupport::MakeTempDir();
    }
    void TearDown() override
    {
        m_server.Stop();
        m_receiver.Kill();
        std::error_code ignored;
        std::filesystem::remove_all(m_strFolder, ignored);
    }

    // The receiver with `args`, and ser2net serving its pseudo-terminal.
    bool StartLine(const std::vector<std::string>& args, bool rfc2217)
    {
        std::string error;
        if (!m_receiver.Start(KAVDM_BINARY, args, error) ||
            !m_server.Start(m_strFolder, m_receiver.PtyPath(), rfc2217, error))
        {
            ADD_FAILURE() << error;
            return false;
        }
        return true;
    }

    std::string m_strFolder;
    CReceiverProcess m_receiver;
    CSer2NetProcess m_server;
    std::string m_strOutput;
};

TEST_F(NetworkLineTest, DownloadOverRfc2217SwitchesTheFarLineTo115200AndBack)
{
    const std::string saved = m_strFolder + "/received.bin";
    ASSERT_TRUE(StartLine({"--rate", "115200", "--check-rate", "--verbose", "--save", saved, "--timeout", "10"}, true));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", kImage, "--port", m_server.Url(), "--baud", "115200",
                                       "--wait", "20"},
                                      m_strOutput, 60s),
              0)
        << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_EQ(ReadFile(saved), ReadFile(kImage)) << "0xFF bytes travel escaped";
    // The receiver saw the pseudo-terminal's own settings follow the switches.
    EXPECT_NE(m_receiver.Stderr().find("the PC's line followed to 115200 baud"), std::string::npos);
    EXPECT_NE(m_receiver.Stderr().find("the PC's line is back at 9600 baud"), std::string::npos)
        << m_receiver.Stderr();
}

TEST_F(NetworkLineTest, UploadOverRfc2217Completes)
{
    ASSERT_TRUE(StartLine({"--role", "upload", "--timeout", "10"}, true));
    const std::string output = m_strFolder + "/memory.bin";
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "upload", output, "--port", m_server.Url(), "--wait", "20"},
                                      m_strOutput, 60s),
              0)
        << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_GT(std::filesystem::file_size(output), 0u);
}

TEST_F(NetworkLineTest, StationServesAReceiverBehindSer2Net)
{
    const std::string saved = m_strFolder + "/received.bin";
    const std::string report = m_strFolder + "/units.jsonl";
    ASSERT_TRUE(StartLine({"--rate", "115200", "--save", saved, "--timeout", "10"}, true));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "station", "download", kImage, "-p", m_server.Url(), "-b",
                                       "115200", "-w", "20", "--report", report},
                                      m_strOutput, 60s),
              0)
        << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_EQ(ReadFile(saved), ReadFile(kImage));
    const std::string record = ReadFile(report);
    EXPECT_NE(record.find("\"identity\":\"" + m_server.Url() + "\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"result\":\"complete\""), std::string::npos) << record;
}

TEST_F(NetworkLineTest, RawTcpDownloadAt9600)
{
    const std::string saved = m_strFolder + "/received.bin";
    ASSERT_TRUE(StartLine({"--rate", "9600", "--save", saved, "--timeout", "10"}, false));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", kImage, "--port", m_server.Url(), "--baud", "9600",
                                       "--wait", "20"},
                                      m_strOutput, 60s),
              0)
        << m_strOutput;
    EXPECT_EQ(m_receiver.Wait(15s), 0) << m_receiver.Stderr();
    EXPECT_EQ(ReadFile(saved), ReadFile(kImage));
}

TEST_F(NetworkLineTest, ServerStoppedMidTransferIsALostPort)
{
    ASSERT_TRUE(StartLine({"--rate", "9600", "--pace", "--timeout", "30"}, true));
    CCommandProcess download;
    ASSERT_TRUE(download.Start(
        {KAVDM_BINARY, "download", kImage, "--port", m_server.Url(), "--baud", "9600", "--wait", "20"}));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (download.Output().find("packet 1 ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    m_server.Stop();
    EXPECT_EQ(download.Wait(15s), 1) << download.Output();
    EXPECT_NE(download.Output().find(m_server.Url() + "): Connection reset by peer"), std::string::npos)
        << download.Output();
}

TEST_F(NetworkLineTest, RefusedConnectionNamesTheUrlAndTheReason)
{
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort());
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", kImage, "--port", url, "--wait", "5"}, m_strOutput,
                                      30s),
              1);
    EXPECT_NE(m_strOutput.find(url + "): Connection refused"), std::string::npos) << m_strOutput;
    EXPECT_NE(m_strOutput.find("ser2net"), std::string::npos) << "the hint says what to check";
}
TEST_F(NetworkLineTest, ServerThatNeverNegotiatesIsRefusedWithinABoundedTime)
{
    // A socket that listens and never speaks: the kernel completes the connection.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    EXPECT_EQ(testsupport::RunCommand({KAVDM_BINARY, "download", kImage, "--port", url, "--wait", "5"}, m_strOutput,
                                      30s),
              1);
    ::close(listener);
    EXPECT_NE(m_strOutput.find(url + "): the server did not negotiate the Com Port option"), std::string::npos)
        << m_strOutput;
}
} // namespace

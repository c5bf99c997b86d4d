// `kavdm station` over pseudo-terminals with real timing: several simulated
// receivers at once, each line ending its own way, the report, the events and
// the production loop.
#include "cli/UnitReport.h"
#include "image/ModuleKind.h"
#include "receiver/SimulatedReceiver.h"
#include "support/CommandProcess.h"
#include "support/DownloadHarness.h"
#include "support/PtyPair.h"
#include "support/ReceiverProcess.h"
#include "support/TestSupport.h"
#include "support/UploadRig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace
{
class StationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strFolder = testsupport::MakeTempDir();
        m_image = testsupport::MakeImage({MakeModuleHeader(ModuleKind::Firmware, 20000)});
        m_strImage = m_strFolder + "/fw.bin";
        std::ofstream(m_strImage, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_image.data()), std::streamsize(m_image.size()));
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_strFolder, ignored);
    }

    // Runs `kavdm station download IMAGE` with the ports and options; keeps its output.
    int Station(const std::vector<std::string>& ports, std::vector<std::string> options)
    {
        std::vector<std::string> argv = {KAVDM_BINARY, "station", "download", m_strImage, "-b", "115200", "--json",
                                         "--report", Report()};
        for (const auto& port : ports)
            argv.insert(argv.end(), {"-p", port});
        argv.insert(argv.end(), options.begin(), options.end());
        return testsupport::RunCommand(argv, m_strOutput, 180s);
    }
    std::string Report() const { return m_strFolder + "/units.jsonl"; }
    // The events among the output (stderr's lines are no JSON objects).
    std::vector<nlohmann::json> Events() const { return testsupport::JsonLines(m_strOutput); }
    std::map<std::string, UnitRecord> RecordsByPort(std::size_t expected) const
    {
        std::string error;
        const auto records = ReadUnitReport(Report(), error);
        EXPECT_EQ(records.size(), expected) << error << m_strOutput;
        std::map<std::string, UnitRecord> byPort;
        for (const auto& record : records)
            byPort[record.port] = record;
        return byPort;
    }

    std::string m_strFolder;
    Bytes m_image;
    std::string m_strImage;
    std::string m_strOutput;
};
} // namespace

TEST_F(StationTest, EachLineEndsItsOwnWayAndTheHealthyOnesComplete)
{
    testsupport::CReceiverProcess good1, good2, reporting;
    testsupport::CPtyPair silent; // a receiver that is never switched on
    std::string error;
    const std::string got1 = m_strFolder + "/got1.bin", got2 = m_strFolder + "/got2.bin";
    ASSERT_TRUE(good1.Start(KAVDM_BINARY, {"--rate", "115200", "--save", got1}, error)) << error;
    ASSERT_TRUE(good2.Start(KAVDM_BINARY, {"--rate", "115200", "--save", got2}, error)) << error;
    ASSERT_TRUE(reporting.Start(KAVDM_BINARY, {"--rate", "115200", "--fault", "status:3:W"}, error)) << error;
    const std::vector<std::string> ports = {good1.PtyPath(), good2.PtyPath(), reporting.PtyPath(),
                                            silent.SlavePath()};

    // Long enough for a loaded machine (sanitizer runs) to start the healthy lines.
    EXPECT_EQ(Station(ports, {"-w", "8"}), 1) << m_strOutput;

    auto records = RecordsByPort(4);
    EXPECT_EQ(records[good1.PtyPath()].result, "complete");
    EXPECT_EQ(records[good2.PtyPath()].result, "complete");
    EXPECT_EQ(records[good1.PtyPath()].bytes, 20 * 1024); // whole packets
    EXPECT_EQ(records[good1.PtyPath()].fileSize, m_image.size());
    EXPECT_EQ(records[reporting.PtyPath()].result, "status-report");
    EXPECT_NE(records[reporting.PtyPath()].reason.find("ERROR  : Checksum check"), std::string::npos);
    EXPECT_FALSE(records[good1.PtyPath()].verified.has_value()) << "no read-back was asked for";
    EXPECT_EQ(records[silent.SlavePath()].result, "timed-out");
    EXPECT_NE(records[silent.SlavePath()].reason.find("did not start"), std::string::npos);
    EXPECT_EQ(testsupport::ReadFileBytes(got1), std::string(m_image.begin(), m_image.end()));
    EXPECT_EQ(testsupport::ReadFileBytes(got2), std::string(m_image.begin(), m_image.end()));

    // Every event names its line; the summary names the failed ones and how to retry them.
    const std::set<std::string> known(ports.begin(), ports.end());
    int ended = 0;
    for (const auto& event : Events())
    {
        if (event.value("event", "") == "summary")
        {
            EXPECT_EQ(event["exit_code"], 1);
            EXPECT_NE(event["retry"].get<std::string>().find("-p " + silent.SlavePath()), std::string::npos);
            EXPECT_EQ(event["retry"].get<std::string>().find("-p " + good1.PtyPath()), std::string::npos);
            continue;
        }
        EXPECT_EQ(event["v"], 1);
        EXPECT_TRUE(known.count(event.value("port", ""))) << event.dump();
        ended += event.value("event", "") == "ended" ? 1 : 0;
    }
    EXPECT_EQ(ended, 4);
}

TEST_F(StationTest, RepeatServesTheNextReceiverOnEachPort)
{
    // Receivers that are switched on again once their unit has ended, as an
    // operator puts the next one in.
    CSimulatedReceiver receivers[2];
    std::vector<std::string> ports;
    for (auto& receiver : receivers)
    {
        std::string path, error;
        ASSERT_TRUE(receiver.Start(path, error)) << error;
        ports.push_back(path);
    }
    std::vector<std::thread> operators;
    for (auto& receiver : receivers)
        operators.emplace_back([&receiver] {
            for (int unit = 0; unit < 2; ++unit)
            {
                std::string error;
                ReceiverOptions options;
                options.nRate = 115200;
                if (!receiver.PowerOn(options, error) || !receiver.WaitForResult(60s))
                    return;
            }
        });

    EXPECT_EQ(Station(ports, {"--repeat", "2", "-w", "20"}), 0) << m_strOutput;
    for (auto& thread : operators)
        thread.join();

    std::string error;
    const auto records = ReadUnitReport(Report(), error);
    ASSERT_EQ(records.size(), 4u) << m_strOutput;
    std::map<std::string, std::set<int>> units;
    for (const auto& record : records)
    {
        EXPECT_EQ(record.result, "complete") << record.reason;
        units[record.port].insert(record.unit);
    }
    for (const auto& port : ports)
        EXPECT_EQ(units[port], (std::set<int>{1, 2})) << port;
}

TEST_F(StationTest, VerifyRecordsEachUnitsReadBack)
{
    const Bytes image = testsupport::MakeImage({MakeModuleHeader(ModuleKind::DigitalEeprom)});
    std::ofstream(m_strImage, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    testsupport::CReceiverProcess keeps, corrupts;
    std::string error;
    ASSERT_TRUE(keeps.Start(KAVDM_BINARY, {"--keep", "--rate", "115200"}, error)) << error;
    ASSERT_TRUE(corrupts.Start(KAVDM_BINARY, {"--keep", "--rate", "115200", "--fault", "corrupt:1:7"}, error)) << error;

    EXPECT_EQ(Station({keeps.PtyPath(), corrupts.PtyPath()}, {"-w", "20", "--verify"}), 1) << m_strOutput;

    auto records = RecordsByPort(2);
    EXPECT_EQ(records[keeps.PtyPath()].result, "complete");
    EXPECT_EQ(records[keeps.PtyPath()].verified, true);
    EXPECT_EQ(records[corrupts.PtyPath()].result, "different");
    EXPECT_EQ(records[corrupts.PtyPath()].verified, false);
    EXPECT_NE(records[corrupts.PtyPath()].reason.find("module 1 (digital-eeprom) differs at offset 7"),
              std::string::npos)
        << records[corrupts.PtyPath()].reason;
    EXPECT_NE(m_strOutput.find("--verify"), std::string::npos) << "the retry command asks for the read-back too";
}

TEST_F(StationTest, SignalEndsEveryUnitCleanlyThenTheStation)
{
    testsupport::CReceiverProcess receiver;
    std::string error;
    ASSERT_TRUE(receiver.Start(KAVDM_BINARY, {"--role", "upload", "--pace", "9600"}, error)) << error;
    testsupport::CCommandProcess station;
    ASSERT_TRUE(station.Start({KAVDM_BINARY, "station", "upload", m_strFolder + "/{port}.bin", "-p",
                               receiver.PtyPath(), "--report", Report()}));
    const auto until = std::chrono::steady_clock::now() + 30s;
    // Once a module's header has come there is data to keep.
    while (station.Output().find("module 1,") == std::string::npos && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(30s), 128 + SIGTERM) << station.Output();

    // The unit's kavdm ended by itself (not killed by the signal): its data is kept.
    std::string readError;
    const auto records = ReadUnitReport(Report(), readError);
    ASSERT_EQ(records.size(), 1u) << station.Output();
    EXPECT_EQ(records[0].result, "interrupted");
    EXPECT_TRUE(records[0].file.ends_with(".partial")) << records[0].file;
    EXPECT_TRUE(std::filesystem::exists(records[0].file));
}

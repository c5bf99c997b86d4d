// The station's encoders and small rules: events and report records survive
// any text, a torn last record is skipped and ended, the retry command is
// quoted for a shell, the upload template and the ports file.
#include "cli/EventStream.h"
#include "cli/Station.h"
#include "cli/StationSummary.h"
#include "cli/UnitReport.h"
#include "support/CommandProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace
{
// Text that every encoder must carry through: quotes, separators, line breaks,
// a control byte, a shell's special characters and bytes that are not UTF-8.
const std::string kAwkwardText = "ERROR  : \"Checksum\", check\nline two\r\t\x01 $(x) 'q' \xff\xfe";

UnitRecord SampleRecord(int unit, const std::string& reason)
{
    UnitRecord record;
    record.unit = unit;
    record.start = "2024-05-01T12:00:00.000Z";
    record.end = "2024-05-01T12:00:28.300Z";
    record.port = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    record.identity = record.port;
    record.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0";
    record.usbSerial = "A600XYZ";
    record.direction = "download";
    record.baud = 115200;
    record.file = "fw, v2.stb";
    record.fileSize = 262208;
    record.fileCrc32 = "0a1b2c3d";
    record.bytes = 262144;
    record.seconds = 28.3;
    record.result = "status-report";
    record.reason = reason;
    record.exitCode = 1;
    record.host = "bench1";
    record.version = "1.0.0";
    return record;
}

class StationRecordsTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strFolder = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_strFolder); }
    std::string m_strFolder;
};
} // namespace

TEST(EventEncoding, AnyTextGivesOneParsableLineThatOpensWithTheVersion)
{
    const std::string line = EncodeEvent("box", {{"text", kAwkwardText}}, std::chrono::system_clock::time_point{});
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line";
    EXPECT_EQ(line.rfind("{\"v\":1,\"event\":\"box\",\"time\":\"1970-01-01T00:00:00.000Z\"", 0), 0u) << line;
    const auto event = nlohmann::json::parse(line);
    const std::string text = event["text"];
    EXPECT_EQ(text.substr(0, 40), kAwkwardText.substr(0, 40)); // the bytes that are not UTF-8 are replaced
}

TEST_F(StationRecordsTest, RecordsSurviveAnyTextAndATornLastLineIsSkippedThenEnded)
{
    for (const std::string name : {"units.jsonl", "units.csv"})
    {
        SCOPED_TRACE(name);
        const std::string path = m_strFolder + "/" + name;
        UnitRecord first = SampleRecord(1, "ERROR  : \"Checksum\", check\nline two 'q' $(x)");
        first.verified = false;
        {
            CUnitReport report;
            std::string error;
            ASSERT_TRUE(report.Open(path, error)) << error;
            report.Append(first);
            ASSERT_TRUE(report.Finish(error)) << error;
        }
        // A crash in the middle of the second record, inside its quoted file name.
        const std::string torn = IsCsvReport(path) ? EncodeUnitCsv(SampleRecord(2, "x")) : EncodeUnitJson(SampleRecord(2, "x"));
        std::ofstream(path, std::ios::app) << torn.substr(0, torn.find("fw, v2") + 2);
        std::string error;
        EXPECT_EQ(ReadUnitReport(path, error), std::vector<UnitRecord>{first});

        // The next run ends the torn line, so its own record reads whole.
        UnitRecord third = SampleRecord(3, "");
        third.verified = true;
        {
            CUnitReport report;
            ASSERT_TRUE(report.Open(path, error)) << error;
            report.Append(third);
            ASSERT_TRUE(report.Finish(error)) << error;
        }
        EXPECT_EQ(ReadUnitReport(path, error), (std::vector<UnitRecord>{first, third}));
    }
}

TEST_F(StationRecordsTest, AReportBegunByAnOlderVersionIsAppendedInItsOwnColumns)
{
    const std::string path = m_strFolder + "/units.csv";
    std::string header = UnitCsvHeader();
    header = header.substr(0, header.rfind(",verified")) + "\n"; // before the read-back column
    std::ofstream(path) << header;
    UnitRecord record = SampleRecord(1, "");
    record.verified = true;
    {
        CUnitReport report;
        std::string error;
        ASSERT_TRUE(report.Open(path, error)) << error;
        report.Append(record);
        ASSERT_TRUE(report.Finish(error)) << error;
    }
    record.verified.reset(); // the old columns have no place for it
    std::string error;
    EXPECT_EQ(ReadUnitReport(path, error), std::vector<UnitRecord>{record}) << error;
}

TEST(RetryCommand, ShellGivesBackEveryWordAsItWas)
{
    StationOptions options;
    options.shownProgram = "kavdm";
    options.direction = "download";
    options.file = "it's a $(fw).stb";
    options.baud = 115200;
    options.waitSeconds = 2.5;
    options.reportPath = "units.csv";
    const std::string command = RetryCommand(options, {"/dev/pts/3", "rfc2217://rack:3001"});
    EXPECT_EQ(command, "kavdm station download 'it'\\''s a $(fw).stb' -p /dev/pts/3 -p rfc2217://rack:3001 -b 115200 "
                       "-w 2.5 --report units.csv");
    std::string output;
    ASSERT_EQ(testsupport::RunCommand({"/bin/sh", "-c", "printf '%s\\n' " + command.substr(6)}, output,
                                      std::chrono::seconds(10)),
              0);
    EXPECT_EQ(output, "station\ndownload\nit's a $(fw).stb\n-p\n/dev/pts/3\n-p\nrfc2217://rack:3001\n-b\n115200\n-w\n"
                      "2.5\n--report\nunits.csv\n");
}

TEST(OutputTemplate, FieldsAreFilledAndATemplateThatWouldShareFilesIsRefused)
{
    EXPECT_EQ(FillOutputTemplate("out/{port}-{unit}-{time}.bin", "pts_3", 7, "20240501T120304Z"),
              "out/pts_3-7-20240501T120304Z.bin");
    EXPECT_EQ(CheckOutputTemplate("{port}-{unit}.bin", 4, true), "");
    EXPECT_EQ(CheckOutputTemplate("single.bin", 1, false), "");
    EXPECT_NE(CheckOutputTemplate("{unit}.bin", 2, false), "");      // two ports, one file
    EXPECT_NE(CheckOutputTemplate("{port}.bin", 1, true), "");       // every unit the same file
    EXPECT_NE(CheckOutputTemplate("{port}-{serial}.bin", 1, false), ""); // an unknown field
}

TEST_F(StationRecordsTest, PortsFileTakesCommentsAndUrlsAndRefusesADeviceTwice)
{
    const std::string path = m_strFolder + "/ports";
    const std::string device = m_strFolder + "/ttyFake0";
    std::ofstream(device) << "";
    std::filesystem::create_symlink(device, m_strFolder + "/socket-2");
    std::ofstream(path) << "# bench 1\n" << device << "   # left socket\n\n  rfc2217://rack:3001\n";
    std::vector<StationPort> ports;
    std::string error;
    ASSERT_TRUE(GatherStationPorts({}, path, {}, ports, error)) << error;
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, device);
    EXPECT_EQ(ports[1].name, "rfc2217://rack:3001");
    EXPECT_EQ(PortFileName(ports[1].name), "rfc2217_rack_3001");

    ports.clear();
    EXPECT_FALSE(GatherStationPorts({m_strFolder + "/socket-2"}, path, {}, ports, error));
    EXPECT_NE(error.find("twice"), std::string::npos) << error;
}

// The upload page around its engine: Browse and Clear, the reset, and the
// output file, which an unfinished upload never puts in place of the user's.
#include "serial/PortNames.h"
#include "support/UploadRig.h"
#include "ui/ControlIds.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace
{
int StateOf(const CInfoPage& page)
{
    return page.State();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class UploadPageTest : public ::testing::Test
{
protected:
    // Starts an upload and delivers one module header and `packets` packets of
    // the flash, without its last one.
    void UploadHalfway(int packets)
    {
        rig.StartUpload();
        rig.Feed({0x01, 0x01, 0x01});
        for (int k = 1; k <= packets; ++k)
            rig.Feed(MakeUploadPacket(std::uint8_t(k % 10), PacketData(1, k)));
        rig.Sent();
    }

    CUploadRig rig;
    CUploadPage& page = *rig.page;
    CRecordingWindow& window = rig.window;
};
} // namespace

TEST_F(UploadPageTest, FirstShownWithStepOneLitAndZeroTimes)
{
    EXPECT_TRUE(page.IsStepLit(1));
    EXPECT_FALSE(page.IsStepLit(2));
    EXPECT_FALSE(page.IsStepLit(3));
    EXPECT_EQ(window.colors.at(IDC_STEP1), RGB(0, 150, 0));
    EXPECT_EQ(window.colors.at(IDC_STEP3), RGB(0, 0, 255));
    EXPECT_EQ(window.texts.at(IDC_ESTIMATED_TIME), " 00 m 00 s");
    EXPECT_EQ(window.texts.at(IDC_CURRENT_TIME), " 00 m 00 s");
    EXPECT_EQ(window.texts.at(IDC_FILE_LOCATION), "");
    EXPECT_EQ(window.ranges.at(IDC_PACKET_BAR), std::make_pair(0, 1024));
    EXPECT_EQ(window.positions.at(IDC_PACKET_BAR), 0);
    EXPECT_EQ(StateOf(page), CUploadPage::NoFile);
    EXPECT_EQ(page.RequestedKind(), UploadKind::Digital);
    EXPECT_EQ(window.TopLog(3),
              (std::vector<std::string>{"serial port create", "Initial crc table", "Dialog initial"}));
}

TEST_F(UploadPageTest, BytesBeforeAFileIsChosenAskForOne)
{
    rig.Feed({VR520_READY});
    rig.Feed({VR520_FUNC});
    EXPECT_EQ(window.BoxTexts(),
              (std::vector<std::string>{"Please, select a file to save", "Please, select a file to save"}));
    EXPECT_TRUE(rig.Sent().empty());
}

TEST_F(UploadPageTest, BrowseShowsThePathAndCreatesNothing)
{
    page.OnBrowse("");
    EXPECT_TRUE(window.boxes.empty()) << "a cancelled dialog changes nothing";
    EXPECT_EQ(StateOf(page), CUploadPage::NoFile);

    WriteText(rig.target, "earlier backup");
    rig.Browse();
    EXPECT_EQ(window.texts.at(IDC_UPLOAD_FILE_EDIT), rig.target);
    EXPECT_EQ(window.texts.at(IDC_FILE_LOCATION), rig.target);
    EXPECT_EQ(window.BoxTexts(), std::vector<std::string>{"Remember to power the IRD standby and then on!"});
    EXPECT_EQ(window.log.front(), "Remember to power the IRD standby and then on!");
    EXPECT_EQ(window.texts.at(IDC_STATUS_TEXT), window.log.front());
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_TRUE(page.IsStepLit(2));
    EXPECT_FALSE(page.IsStepLit(1));
    EXPECT_EQ(ReadFileBytes(rig.target), "earlier backup");
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.dir), fs::directory_iterator()), 1);
}

TEST_F(UploadPageTest, ALostPortEndsTheWaitOrTheTransferOnce)
{
    for (const bool bTransferRunning : {false, true})
    {
        if (bTransferRunning)
            rig.StartUpload();
        else
            rig.Browse();
        window.ClearHistory();
        page.OnPortLost(0);
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text.rfind("ERROR : Lost the COM2 port", 0), 0u) << window.boxes[0].text;
        ASSERT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::PortLost}) << "a front end waiting for it stops";
        EXPECT_EQ(window.transferEnds[0].reason, window.boxes[0].text);
        EXPECT_EQ(StateOf(page), CUploadPage::WaitReady) << "the file stays chosen";
    }
}

TEST_F(UploadPageTest, ClearAfterACompletedUploadKeepsTheFile)
{
    rig.StartUpload();
    rig.SendModule(1, 0, 2, 1);
    rig.Finish();
    const std::string written = ReadFileBytes(rig.target);
    ASSERT_EQ(written, ToString(rig.expectedFile));
    window.ClearHistory();
    const auto slept = rig.clock.SleptMs();
    page.OnClear();
    EXPECT_EQ(ReadFileBytes(rig.target), written);
    EXPECT_EQ(page.FilePath(), "");
    EXPECT_EQ(window.texts.at(IDC_UPLOAD_FILE_EDIT), "");
    EXPECT_EQ(window.texts.at(IDC_FILE_LOCATION), "");
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "State Reset"), 2);
    EXPECT_EQ(rig.clock.SleptMs() - slept, 2220) << "two resets of 1.11 s";
    EXPECT_EQ(StateOf(page), CUploadPage::NoFile);
    EXPECT_TRUE(page.IsStepLit(1));
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(window.transferEnds.empty()) << "no transfer was running";
}

TEST_F(UploadPageTest, ClearInTheMiddleKeepsTheEarlierFileAndThePartialOne)
{
    WriteText(rig.target, "earlier backup");
    UploadHalfway(3);
    window.ClearHistory();
    page.OnClear();
    EXPECT_EQ(ReadFileBytes(rig.target), "earlier backup");
    EXPECT_EQ(ReadFileBytes(rig.target + ".partial").size(), 64u + 3 * 1024);
    EXPECT_EQ(window.BoxTexts(), std::vector<std::string>{"Upload not complete: the data received is kept in " +
                                                          rig.target + ".partial; " + rig.target +
                                                          " is left as it was."});
    ASSERT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Reset});
    EXPECT_EQ(window.transferEnds[0].reason, "Clear was pressed");
    EXPECT_FALSE(page.IsOutputOpen());
    EXPECT_TRUE(page.IsStepLit(1));

    // The receiver goes on sending: the page asks for a file, once per chunk.
    window.ClearHistory();
    rig.Feed(MakeUploadPacket(4, PacketData(1, 4)), 515);
    EXPECT_EQ(window.BoxTexts(),
              (std::vector<std::string>{"Please, select a file to save", "Please, select a file to save"}));
    EXPECT_EQ(fs::file_size(rig.target + ".partial"), 64u + 3 * 1024);
}

TEST_F(UploadPageTest, ClearBeforeAnyDataLeavesNothingBehind)
{
    rig.Browse();
    rig.Feed({VR520_READY});
    rig.Feed({VR520_FUNC});
    rig.Feed({0x01}); // the output is open, nothing written yet
    ASSERT_TRUE(page.IsOutputOpen());
    page.OnClear();
    EXPECT_TRUE(fs::is_empty(rig.dir));
}

TEST_F(UploadPageTest, BrowseDuringAnUploadClosesTheOutputFirst)
{
    UploadHalfway(2);
    const std::string other = rig.dir + "/other.bin";
    window.ClearHistory();
    page.OnBrowse(other);
    EXPECT_FALSE(page.IsOutputOpen());
    EXPECT_EQ(fs::file_size(rig.target + ".partial"), 64u + 2 * 1024);
    EXPECT_EQ(window.BoxTexts().size(), 2u);
    EXPECT_EQ(window.BoxTexts().back(), "Remember to power the IRD standby and then on!");
    EXPECT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Reset});
    EXPECT_EQ(page.TimerTicks(), -1) << "nothing is asked for any more";
    EXPECT_FALSE(window.animations[IDC_ANIMATION].playing);
    EXPECT_EQ(rig.line.events.back(), "purge") << "the port was reopened at 9600 baud and purged";
    EXPECT_EQ(rig.line.baudRate, 9600);
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);

    // The rest of the old upload is not written anywhere; a new one goes to the new file.
    page.OnTimer(kPageTimerId);
    for (int tick = 0; tick < 11; ++tick)
        page.OnTimer(kPageTimerId);
    EXPECT_EQ(page.TimerTicks(), -1);
    rig.Sent();
    rig.StartUpload();
    EXPECT_EQ(page.FilePath(), rig.target);
    rig.expectedFile.clear();
    rig.SendModule(1, 0, 2, 1);
    rig.Finish();
    EXPECT_EQ(ReadFileBytes(rig.target), ToString(rig.expectedFile));
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(UploadPageTest, UncreatableOutputIsReportedAndTheReceiverWaitedForAgain)
{
    const std::string missing = rig.dir + "/no-such-folder/backup.bin";
    page.OnBrowse(missing);
    rig.Feed({VR520_READY});
    rig.Feed({VR520_FUNC});
    window.ClearHistory();
    rig.Feed({0x01});
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "ERROR : Cannot create " + missing + ": No such file or directory");
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::Error);
    EXPECT_TRUE(window.LogContains("State Reset"));
    ASSERT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::OutputError});
    EXPECT_EQ(window.transferEnds[0].reason, "Cannot create " + missing + ": No such file or directory");
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_EQ(page.FilePath(), missing);
    EXPECT_TRUE(fs::is_empty(rig.dir));
    // The start-upload that follows is not taken for a ready.
    rig.Sent();
    rig.Feed({VR520_STARD_UPLOAD});
    EXPECT_TRUE(rig.Sent().empty());
}

TEST_F(UploadPageTest, AFailedWriteEndsTheUploadKeepingWhatCame)
{
    WriteText(rig.target, "earlier backup");
    struct sigaction ignore{}, previousAction{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 64 + 2 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    UploadHalfway(2);
    window.ClearHistory();
    rig.Feed(MakeUploadPacket(3, PacketData(1, 3)));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::sigaction(SIGXFSZ, &previousAction, nullptr);

    ASSERT_FALSE(window.boxes.empty());
    EXPECT_EQ(window.boxes[0].text, "ERROR : Cannot write " + rig.target + ": File too large. " +
                                        "Upload not complete: the data received is kept in " + rig.target +
                                        ".partial; " + rig.target + " is left as it was.");
    EXPECT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(ReadFileBytes(rig.target), "earlier backup");
    EXPECT_EQ(fs::file_size(rig.target + ".partial"), 64u + 2 * 1024);
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_EQ(page.TimerTicks(), -1);
    EXPECT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::OutputError});
    EXPECT_TRUE(rig.Sent().empty()) << "no request for packet 4";
}

TEST_F(UploadPageTest, ANewUploadReplacesTheFileOfTheLastOne)
{
    rig.StartUpload();
    rig.SendModule(1, 0, 2, 1);
    rig.Finish();
    const std::string first = ReadFileBytes(rig.target);
    rig.expectedFile.clear();
    rig.Feed({VR520_READY});
    rig.Feed({VR520_FUNC});
    rig.Feed({0x01});
    rig.Feed({VR520_STARD_UPLOAD});
    EXPECT_EQ(ReadFileBytes(rig.target), first) << "kept until the new one completes";
    rig.SendModule(0, 0, 14, 7);
    rig.Finish();
    EXPECT_EQ(ReadFileBytes(rig.target), ToString(rig.expectedFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.dir), fs::directory_iterator()), 1);
}

TEST_F(UploadPageTest, AnotherPortEndsAnUploadUnderWay)
{
    UploadHalfway(1);
    SetPortDevice(4, rig.dir + "/no-such-device");
    window.ClearHistory();
    page.ChangePort(3);
    ClearPortDevices();
    ASSERT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Reset});
    EXPECT_EQ(window.transferEnds[0].reason, "another port was chosen");
    EXPECT_EQ(fs::file_size(rig.target + ".partial"), 64u + 1024);
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady) << "the file stays chosen";
    EXPECT_EQ(page.TimerTicks(), -1);
}

TEST_F(UploadPageTest, ClosingThePageMidUploadKeepsThePartialData)
{
    UploadHalfway(1);
    rig.page.reset();
    EXPECT_EQ(fs::file_size(rig.target + ".partial"), 64u + 1024);
    EXPECT_FALSE(fs::exists(rig.target));
    rig.page = std::make_unique<CUploadPage>(&rig.window, nullptr); // for the rig's tear-down
}

TEST_F(UploadPageTest, ACounterLeftByTheDownloadPageCannotOverrunTheBuffer)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00}); // the EEPROM, in two packets
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)));
    rig.Sent();
    theBytesLeft = 5000; // the shared counter as another engine may leave it
    rig.Feed(MakeUploadPacket(LAST_BLOCK, PacketData(1, 2)));
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});
    theBytesLeft = -3;
    rig.Feed({0x02, 0x01, 0x00});
    EXPECT_EQ(rig.Sent(), (Bytes{PACKET_REQUEST, 0x01}));
}

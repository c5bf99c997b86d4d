// The DOWNLOAD page around the engine: start-up, Browse, Clear, the reset and
// its step texts, and images that cannot be used.
#include "image/ModuleKind.h"
#include "image/StbCodec.h"
#include "protocol/ProtocolThread.h"
#include "serial/SerialPort.h"
#include "support/DownloadHarness.h"
#include "support/ScriptedLine.h"
#include "support/TestSupport.h"
#include "ui/ControlIds.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

using testsupport::CDownloadHarness;
using testsupport::MakeImage;
using Bytes = std::vector<std::uint8_t>;

namespace
{
class DownloadPageTest : public ::testing::Test
{
protected:
    CDownloadHarness h;
};

Bytes FirmwareImage(std::uint32_t length = 3000)
{
    return MakeImage({MakeModuleHeader(ModuleKind::Firmware, length)});
}
} // namespace

TEST_F(DownloadPageTest, StartUpShowsTheFirstStepAndLogsInOrder)
{
    EXPECT_EQ(h.window.TopLog(3),
              (std::vector<std::string>{"Download Control settup", "Initial crc table", "Dialog initial"}));
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);
    EXPECT_TRUE(h.page->IsStepLit(1));
    EXPECT_FALSE(h.page->IsStepLit(2));
    EXPECT_EQ(h.window.colors[IDC_STEP1], RGB(0, 150, 0));
    EXPECT_EQ(h.window.colors[IDC_STEP2], RGB(255, 0, 0));
    EXPECT_EQ(h.window.colors[IDC_STEP3], RGB(0, 0, 255));
    EXPECT_EQ(h.window.ranges[IDC_PACKET_BAR], std::make_pair(0, 1024));
    EXPECT_EQ(h.window.texts[IDC_ESTIMATED_TIME], " 00 m 00 s");
    EXPECT_EQ(h.window.texts[IDC_CURRENT_TIME], " 00 m 00 s");
    EXPECT_TRUE(h.line.IsOpen());
    EXPECT_EQ(h.line.events.front(), "reopen 9600") << "the page reopens the line when it is made";
    EXPECT_TRUE(h.window.boxes.empty());
}

TEST_F(DownloadPageTest, WithoutAFileEveryDeliveryAsksForOne)
{
    h.Receive({VR520_READY});
    h.Receive({0x00});
    EXPECT_EQ(h.window.BoxTexts(), (std::vector<std::string>{"Please, select a file to download",
                                                              "Please, select a file to download"}));
    EXPECT_TRUE(h.SentNow().empty());
    EXPECT_EQ(h.window.log.front(), "Please, select a file to download") << "box texts are logged too";
    EXPECT_EQ(h.window.texts[IDC_STATUS_TEXT], h.window.log.front());
}

TEST_F(DownloadPageTest, BrowseLoadsTheImageAndWaitsForTheReceiver)
{
    h.page->OnBrowse(""); // cancelled
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);
    EXPECT_TRUE(h.page->FilePath().empty());
    EXPECT_TRUE(h.window.boxes.empty());

    const std::string path = h.WriteFile("fw.bin", FirmwareImage());
    const auto slept = h.clock.SleptMs();
    h.page->OnBrowse(path);
    EXPECT_EQ(h.clock.SleptMs() - slept, 100);
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Remember to power the IRD standby and then on!"});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
    EXPECT_EQ(h.page->FilePath(), path);
    EXPECT_EQ(h.window.texts[IDC_FILE_EDIT], path);
    EXPECT_EQ(h.window.texts[IDC_FILE_LOCATION], path);
    EXPECT_TRUE(h.page->IsStepLit(2));
    EXPECT_FALSE(h.page->IsStepLit(1));
    EXPECT_EQ(h.window.waitCursorDepth, 0);
}

TEST_F(DownloadPageTest, StbImageIsDecodedAfterTheNotice)
{
    const Bytes image = FirmwareImage(5000);
    const auto stb = EncodeStb(image);
    ASSERT_TRUE(stb.ok());
    h.page->OnBrowse(h.WriteFile("FW.Stb", stb.stream));
    EXPECT_EQ(h.window.BoxTexts(), (std::vector<std::string>{"Just a moment until next window appear",
                                                              "Remember to power the IRD standby and then on!"}));
    h.window.ClearHistory();
    EXPECT_EQ(h.PlayReceiver(), image);
}

TEST_F(DownloadPageTest, UnusableImageIsReportedAndThePageStaysUsable)
{
    const std::string missing = h.folder + "/missing.bin";
    h.page->OnBrowse(missing);
    ASSERT_EQ(h.window.boxes.size(), 1u);
    EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);
    EXPECT_TRUE(h.page->IsStepLit(1));

    // A truncated image and a corrupt STB file: refused, nothing loaded.
    Bytes truncated = FirmwareImage(5000);
    truncated.resize(3000);
    h.window.ClearHistory();
    h.page->OnBrowse(h.WriteFile("cut.bin", truncated));
    ASSERT_EQ(h.window.boxes.size(), 1u);
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);

    h.window.ClearHistory();
    h.page->OnBrowse(h.WriteFile("bad.stb", Bytes{0x00, 0x01}));
    ASSERT_EQ(h.window.boxes.size(), 2u) << "the notice, then the decoder's error";
    EXPECT_EQ(h.window.boxes[1].icon, BoxIcon::Error);
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);

    // And a good file still loads afterwards.
    h.Load("fw.bin", FirmwareImage());
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
}

TEST_F(DownloadPageTest, ClearReturnsToTheStart)
{
    h.page->OnClear(); // nothing loaded: stays in NoFile
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);
    EXPECT_TRUE(h.page->IsStepLit(1));

    h.Load("fw.bin", FirmwareImage());
    h.Receive({VR520_READY});
    h.Sent(1);
    h.page->OnClear();
    EXPECT_EQ(h.page->State(), CDownloadPage::NoFile);
    EXPECT_TRUE(h.page->FilePath().empty());
    EXPECT_EQ(h.window.texts[IDC_FILE_EDIT], "");
    EXPECT_EQ(h.window.texts[IDC_FILE_LOCATION], "");
    EXPECT_TRUE(h.page->IsStepLit(1));
    EXPECT_FALSE(h.page->IsStepLit(3));
    h.Receive({VR520_READY});
    EXPECT_EQ(h.window.boxes.back().text, "Please, select a file to download");
}

TEST_F(DownloadPageTest, BrowseDuringATransferResetsThePageFirst)
{
    // Another image, or one that will not load: either way the running
    // transfer is reset as Clear does, back at 9600 baud with nothing moving.
    for (const char* chosen : {"other.bin", "missing.bin"})
    {
        CDownloadHarness fresh;
        fresh.Load("fw.bin", FirmwareImage());
        const std::string other = fresh.WriteFile("other.bin", FirmwareImage(5000));
        fresh.page->SetBaudRate(57600);
        fresh.Receive({VR520_RATE});
        fresh.Receive({VR520_READY});
        fresh.Receive({VR520_FUNC});
        ASSERT_EQ(fresh.line.baudRate, 57600);
        fresh.window.ClearHistory();
        fresh.page->OnBrowse(fresh.folder + "/" + chosen);
        ASSERT_EQ(fresh.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Reset}) << chosen;
        EXPECT_EQ(fresh.window.transferEnds[0].reason, "another image was chosen");
        EXPECT_FALSE(fresh.window.animations[IDC_ANIMATION].playing) << chosen;
        EXPECT_EQ(fresh.line.baudRate, 9600) << chosen;
        EXPECT_FALSE(fresh.page->IsTransferRunning());
        EXPECT_EQ(fresh.page->State(), fresh.page->FilePath().empty() ? CDownloadPage::NoFile : CDownloadPage::WaitReady);
    }
    SetClock(&h.clock); // each fresh harness put the real clock back
}

TEST_F(DownloadPageTest, ResetReopensAt9600AfterItsPausesAndKeepsStepTwo)
{
    h.Load("fw.bin", FirmwareImage());
    theLinkSettings.openBaudRate = 115200;
    h.page->Line().Reopen(theLinkSettings.openBaudRate);
    EXPECT_EQ(h.line.baudRate, 115200);
    const auto slept = h.clock.SleptMs();
    h.page->ResetState();
    EXPECT_EQ(h.clock.SleptMs() - slept, 610);
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600);
    EXPECT_EQ(h.line.baudRate, 9600);
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
    EXPECT_TRUE(h.page->IsStepLit(2)) << "a reset before the ready leaves the step texts";
    EXPECT_EQ(h.window.animations[IDC_ANIMATION].first, 0);
    EXPECT_EQ(h.window.animations[IDC_ANIMATION].last, 0);
    EXPECT_FALSE(h.window.animations[IDC_ANIMATION].playing);
}

TEST_F(DownloadPageTest, AResetTheWindowDeclinesLeavesTheLineClosed)
{
    // The command line ends with the first reset: its port is not reopened
    // by name, where it might now hold another device.
    h.Load("fw.bin", FirmwareImage());
    h.window.reopensLineAfterReset = false;
    h.line.events.clear();
    h.page->ResetState();
    EXPECT_EQ(h.line.events, (std::vector<std::string>{"purge", "close"}));
    EXPECT_FALSE(h.line.IsOpen());
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600) << "a later open starts at the resting rate";
    h.page->OnPortLost(EIO);
    EXPECT_EQ(h.window.reopenQuestions, (std::vector<bool>{false, true})) << "the second reset follows a loss";
}

TEST_F(DownloadPageTest, RefusedFunctionResetsToWaitReady)
{
    h.Load("fw.bin", FirmwareImage());
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x00});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Invalid Protocol : VR520_HEADER"});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
    ASSERT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Refused});
    EXPECT_EQ(h.window.transferEnds[0].reason, "Invalid Protocol : VR520_HEADER");
    EXPECT_TRUE(h.page->IsStepLit(1));
}

TEST_F(DownloadPageTest, UnexpectedBytesAreReportedAndIgnoredByState)
{
    h.Load("fw.bin", FirmwareImage());
    h.Receive({VR520_READY});
    h.Receive({VR520_RATE}); // ignored while waiting for the function request
    h.Receive({0x42});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Invalid Protocol : VR520_FUNC"});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.window.ClearHistory();
    h.Receive({0x00});
    h.Receive({VR520_RATE});
    h.Receive({0x42});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Invalid Protocol : VR520_HEADER2"});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitHeaderRequest);
}

TEST(DurationTextTest, MinutesAndSecondsWithinTheHour)
{
    EXPECT_EQ(FormatDuration(0), " 00 m 00 s");
    EXPECT_EQ(FormatDuration(59), " 00 m 59 s");
    EXPECT_EQ(FormatDuration(61), " 01 m 01 s");
    EXPECT_EQ(FormatDuration(3599), " 59 m 59 s");
    EXPECT_EQ(FormatDuration(3661), " 01 m 01 s") << "whole hours drop";
    EXPECT_EQ(FormatDuration(-5), " 00 m 00 s");
}

TEST(DownloadPageBrowseTest, AReceiverSwitchedOnWhileTheReadyBoxIsOpenIsAnswered)
{
    theLinkSettings = kInitialLinkSettings; // 9600 baud: the rate query gets 0x01
    testsupport::CRecordingWindow window;
    auto line = std::make_unique<testsupport::CScriptedLine>(2);
    const std::string folder = testsupport::MakeTempDir();
    const std::string path = folder + "/fw.bin";
    const Bytes image = FirmwareImage();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    window.onBox = [&](const testsupport::CRecordingWindow::Box& box) {
        if (box.text.rfind("Remember", 0) == 0)
        {
            line->Send({VR520_RATE});
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the port has it before the OK
        }
    };
    CProtocolThread thread;
    CDownloadPage* page = nullptr;
    thread.RunDelivery([&] {
        page = new CDownloadPage(&window, &thread);
        page->OnInitDialog();
        page->OnBrowse(path);
    });
    EXPECT_EQ(line->TakeExactly(1, 2000), Bytes{0x01});
    thread.RunDelivery([&] { delete page; });
    std::filesystem::remove_all(folder);
}

TEST(DownloadPageLostPortTest, LostPortShowsOneBoxAndResets)
{
    // Real clock and a real protocol thread, as the front ends run the page.
    theLinkSettings = kInitialLinkSettings;
    testsupport::CRecordingWindow window;
    auto line = std::make_unique<testsupport::CScriptedLine>(2);
    CProtocolThread thread;
    CDownloadPage* page = nullptr;
    thread.RunDelivery([&] {
        page = new CDownloadPage(&window, &thread);
        page->OnInitDialog();
        window.ClearHistory();
        ASSERT_NE(theSerialPort, nullptr);
        EXPECT_TRUE(theSerialPort->IsOpen());
        EXPECT_EQ(theSerialPort->StopBits(), 0) << "the page's own port: one stop bit";
    });
    line->HangUp();
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        thread.RunDelivery([&] { ended = !window.transfersEnded.empty(); });
    }
    thread.Sync();
    thread.RunDelivery([&] {
        EXPECT_TRUE(ended);
        ASSERT_EQ(window.boxes.size(), 1u) << "one box for the loss; the failed reopen is only logged";
        EXPECT_NE(window.boxes[0].text.find("Lost the COM2 port"), std::string::npos) << window.boxes[0].text;
        EXPECT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::PortLost});
        bool reopenLogged = false;
        for (const auto& line : window.log)
            reopenLogged = reopenLogged || line.rfind("ERROR: Cannot open COM2 port!", 0) == 0;
        EXPECT_TRUE(reopenLogged);
        delete page;
    });
}

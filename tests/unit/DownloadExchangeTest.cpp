// The download engine on the line: whole exchanges byte by byte, the rate
// exchange, the ready scan, the module scan's kinds, block numbers, restarts,
// status reports and split requests.
#include "image/ModuleKind.h"
#include "support/DownloadHarness.h"
#include "ui/ControlIds.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using testsupport::CDownloadHarness;
using testsupport::IsValidPacket;
using testsupport::MakeImage;
using Bytes = std::vector<std::uint8_t>;

namespace
{
ModuleHeader Firmware(std::uint32_t length)
{
    return MakeModuleHeader(ModuleKind::Firmware, length);
}
ModuleHeader Flash()
{
    return MakeModuleHeader(ModuleKind::DigitalFlash);
}
ModuleHeader Eeprom()
{
    return MakeModuleHeader(ModuleKind::DigitalEeprom);
}
ModuleHeader Analog()
{
    return MakeModuleHeader(ModuleKind::Analog);
}

class DownloadExchangeTest : public ::testing::Test
{
protected:
    CDownloadHarness h;
};
} // namespace

TEST_F(DownloadExchangeTest, WholeExchangeAt57600ByteByByte)
{
    const Bytes image = MakeImage({Firmware(3000)});
    h.Load("fw.bin", image);
    h.page->SetBaudRate(57600);

    // Rate: code 4, then the port is reopened at the new rate, 20 ms pauses around it.
    const auto beforeRate = h.clock.SleptMs();
    h.Receive({VR520_RATE});
    EXPECT_EQ(h.Sent(1), Bytes{0x04});
    EXPECT_EQ(h.clock.SleptMs() - beforeRate, 10 + 20 + 20);
    EXPECT_EQ(theLinkSettings.openBaudRate, 57600);
    EXPECT_EQ(h.line.baudRate, 57600);
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);

    // Ready: echoed, the clock and the animation start, step 3 lights.
    h.Receive({VR520_READY});
    EXPECT_EQ(h.Sent(1), Bytes{VR520_READY});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitFunction);
    EXPECT_TRUE(h.window.animations[IDC_ANIMATION].playing);
    EXPECT_EQ(h.window.animations[IDC_ANIMATION].repeat, -1);
    EXPECT_TRUE(h.page->IsStepLit(3));
    EXPECT_FALSE(h.page->IsStepLit(2));
    EXPECT_EQ(h.window.transfersStarted, 1);

    // Function: one firmware module.
    const auto slept = h.clock.SleptMs();
    h.Receive({VR520_FUNC});
    EXPECT_EQ(h.Sent(1), Bytes{FUNC_PROGRAM});
    EXPECT_EQ(h.clock.SleptMs() - slept, 10 + 5) << "the delivery pause and the pause after the code";
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitFunctionReply);
    EXPECT_EQ(h.window.TopLog(2), (std::vector<std::string>{"[sd msg] download program", "Program length : 3000 "}));
    EXPECT_EQ(h.page->TotalBytes(), 3000);
    EXPECT_EQ(h.window.ranges[IDC_TOTAL_BAR], std::make_pair(0, 3000 / 2));

    h.Receive({0x01});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitHeaderRequest);
    EXPECT_TRUE(h.window.LogContains("[rd msg] Function reply"));

    // Header: the module's 44 bytes and twenty 0xFF.
    h.Receive({VR520_HEADER2});
    const Bytes header = h.Sent(kHeaderBlockSize);
    ASSERT_EQ(header.size(), 64u);
    EXPECT_TRUE(std::equal(header.begin(), header.begin() + 44, image.begin()));
    EXPECT_TRUE(std::all_of(header.begin() + 44, header.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(h.page->State(), CDownloadPage::SendingData);
    EXPECT_TRUE(h.window.checks[IDC_CHECK_FIRMWARE]);

    // Packets 1 and 2 in full, packet 3 the last: 952 image bytes, then what packet 2 left.
    const Bytes p1 = h.RequestPacket(1);
    ASSERT_TRUE(IsValidPacket(p1));
    EXPECT_EQ(p1[1], 1);
    EXPECT_TRUE(std::equal(p1.begin() + 2, p1.begin() + 1026, image.begin() + 64));
    EXPECT_EQ(h.window.PositionHistory(IDC_PACKET_BAR), (std::vector<int>{0, 512, 1024}));
    const Bytes p2 = h.RequestPacket(2);
    ASSERT_TRUE(IsValidPacket(p2));
    const Bytes p3 = h.RequestPacket(3);
    ASSERT_TRUE(IsValidPacket(p3));
    EXPECT_EQ(p3[1], LAST_BLOCK);
    EXPECT_TRUE(std::equal(p3.begin() + 2, p3.begin() + 2 + 952, image.begin() + 64 + 2048));
    EXPECT_TRUE(std::equal(p3.begin() + 2 + 952, p3.begin() + 1026, p2.begin() + 2 + 952))
        << "the rest of the last packet is what the buffer held";
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitHeaderRequest);
    EXPECT_EQ(h.page->BytesDone(), 3072);

    // End message, "Download Complete", reset to 9600.
    h.window.ClearHistory();
    h.Receive({VR520_HEADER2});
    const Bytes end = h.Sent(kHeaderBlockSize);
    ASSERT_EQ(end.size(), 64u);
    EXPECT_EQ(end[0], 0);
    EXPECT_TRUE(std::equal(end.begin() + 1, end.begin() + 44, image.begin() + 1));
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Download Complete"});
    EXPECT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600);
    EXPECT_EQ(h.line.baudRate, 9600);
    EXPECT_TRUE(h.page->IsStepLit(1));
    EXPECT_FALSE(h.page->IsStepLit(3));
    EXPECT_FALSE(h.window.animations[IDC_ANIMATION].playing);
    EXPECT_EQ(h.window.positions[IDC_TOTAL_BAR], 0);
    EXPECT_FALSE(h.window.checks[IDC_CHECK_FIRMWARE]);
}

TEST_F(DownloadExchangeTest, RateExchangeAt9600AnswersOneWithoutReopening)
{
    h.Load("fw.bin", MakeImage({Firmware(3000)}));
    // The port runs at another rate, so a reopen (at 9600) would show.
    theLinkSettings.openBaudRate = 38400;
    h.page->Line().Reopen(theLinkSettings.openBaudRate);
    h.Receive({VR520_RATE});
    EXPECT_EQ(h.Sent(1), Bytes{0x01});
    EXPECT_EQ(h.line.baudRate, 38400);
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600) << "the selected rate is copied all the same";
}

TEST_F(DownloadExchangeTest, ReadyScanStartsAtZeroOrReadyAndLogsTheRest)
{
    h.Load("fw.bin", MakeImage({Firmware(3000)}));
    h.Receive({0x12, 0x34});
    EXPECT_EQ(h.window.TopLog(3),
              (std::vector<std::string>{"Invalid Protocol : VR520_READY", "[rd] msg(34)", "[rd] msg(12)"}));
    EXPECT_TRUE(h.window.boxes.empty()) << "only logged";
    EXPECT_TRUE(h.SentNow().empty());
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);

    h.Receive({0x12, 0x00, 0x34});
    EXPECT_EQ(h.window.TopLog(2), (std::vector<std::string>{"[rd] msg(0)", "[rd] msg(12)"}));
    EXPECT_EQ(h.Sent(1), Bytes{VR520_READY});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitFunction);
}

TEST_F(DownloadExchangeTest, ModuleKindsChooseTheFunctionCode)
{
    struct Case
    {
        std::vector<ModuleHeader> modules;
        std::uint8_t code;
        int kinds;
    };
    const Case cases[] = {
        {{Eeprom(), Analog()}, FUNC_DIGITAL_ANALOG, 4},
        {{Analog()}, FUNC_ANALOG, 3},
        {{Eeprom(), Analog(), Eeprom()}, FUNC_DIGITAL, 2}, // the last digital module turns 4 back into 2
    };
    for (const Case& c : cases)
    {
        h.Load("data.bin", MakeImage(c.modules));
        h.Receive({VR520_READY});
        h.Sent(1);
        h.Receive({VR520_FUNC});
        EXPECT_EQ(h.Sent(1), Bytes{c.code});
        EXPECT_EQ(h.page->ModuleKinds(), c.kinds);
    }
}

TEST_F(DownloadExchangeTest, ImageWithoutAModuleForTheScanIsInvalid)
{
    // 64 + 1000 bytes: not more than 2048, so the scan finds nothing.
    h.Load("small.bin", MakeImage({Firmware(1000)}));
    h.Receive({VR520_READY});
    h.Sent(1);
    h.Receive({VR520_FUNC});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"BIN file is invalid."});
    EXPECT_TRUE(h.SentNow().empty());
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitFunctionReply);
}

TEST_F(DownloadExchangeTest, FlashAndEepromScanAsOneDigitalModuleAndBothAreSent)
{
    const Bytes image = MakeImage({Flash(), Eeprom()});
    h.Load("upload.bin", image);
    const Bytes received = h.PlayReceiver();
    EXPECT_EQ(received, image);
    EXPECT_EQ(h.page->TotalBytes(), 262144);
    EXPECT_EQ(h.page->ModuleKinds(), 2);
    EXPECT_EQ(h.page->BytesDone(), 264192);
    EXPECT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
}

TEST_F(DownloadExchangeTest, MixedImageArrivesByteExactAndCanBeSentAgain)
{
    const Bytes image = MakeImage({Firmware(1500), Eeprom(), Analog(), Firmware(4096)});
    h.Load("mixed.bin", image);
    EXPECT_EQ(h.PlayReceiver(), image);
    // The receiver starts again: the same image from its start.
    EXPECT_EQ(h.PlayReceiver(), image);
    EXPECT_EQ(h.window.EndKinds(), (std::vector<TransferEndKind>{TransferEndKind::Complete, TransferEndKind::Complete}));
}

TEST_F(DownloadExchangeTest, BlockMismatchWithMoreThanOnePacketLeftIsReported)
{
    h.Load("fw.bin", MakeImage({Firmware(5000)}));
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.RequestPacket(1);
    h.window.ClearHistory();
    h.Receive({VR520_DATA, 5});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Block Number Dismatch : retransmission"});
    EXPECT_TRUE(h.SentNow().empty()) << "nothing is sent";
    EXPECT_EQ(h.page->State(), CDownloadPage::SendingData);
    EXPECT_EQ(h.page->PacketNumber(), 2);
    // The expected request still works.
    EXPECT_EQ(h.RequestPacket(2)[1], 2);
}

TEST_F(DownloadExchangeTest, BlockMismatchWithOnePacketLeftSendsTheLastPacketUncounted)
{
    const Bytes image = MakeImage({Firmware(2500)});
    h.Load("fw.bin", image);
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.RequestPacket(1);
    h.RequestPacket(2);
    const int done = h.page->BytesDone();
    const Bytes last = h.RequestPacket(7);
    ASSERT_TRUE(IsValidPacket(last));
    EXPECT_EQ(last[1], LAST_BLOCK);
    EXPECT_TRUE(std::equal(last.begin() + 2, last.begin() + 2 + 452, image.begin() + 64 + 2048));
    EXPECT_TRUE(h.window.boxes.empty()) << (h.window.boxes.empty() ? "" : h.window.boxes[0].text);
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitHeaderRequest);
    EXPECT_EQ(h.page->BytesDone(), done);
    EXPECT_EQ(h.page->PacketNumber(), 3);
}

TEST_F(DownloadExchangeTest, RestartMidModuleSendsTheImageFromItsStart)
{
    const Bytes image = MakeImage({Eeprom(), Analog()});
    h.Load("data.bin", image);
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.RequestPacket(1);
    h.window.ClearHistory();
    // The receiver began again: 0xCD in the middle of a module.
    h.Receive({VR520_READY});
    EXPECT_EQ(h.Sent(1), Bytes{VR520_READY});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitFunction);
    EXPECT_TRUE(h.window.LogContains("[rd] msg(cd)"));
    EXPECT_EQ(h.window.transfersStarted, 1);
    h.Receive({VR520_FUNC});
    EXPECT_EQ(h.Sent(1), Bytes{FUNC_DIGITAL_ANALOG});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    const Bytes header = h.Sent(kHeaderBlockSize);
    EXPECT_TRUE(std::equal(header.begin(), header.begin() + 44, image.begin()));
    const Bytes p1 = h.RequestPacket(1);
    EXPECT_TRUE(std::equal(p1.begin() + 2, p1.end() - 4, image.begin() + 64));
}

TEST_F(DownloadExchangeTest, TheReadyAfterNoiseIsAnsweredOncePastTheGuard)
{
    h.Load("fw.bin", MakeImage({Firmware(3000)}));
    h.Receive({0x5A, VR520_READY, 0x13}); // boot noise holding 0xCD starts the exchange
    EXPECT_EQ(h.Sent(1), Bytes{VR520_READY});
    h.Receive({VR520_READY}); // at once: it crossed the answer
    EXPECT_TRUE(h.SentNow().empty());
    h.clock.Advance(CInfoPage::kReadyRepeatGuardMs);
    h.Receive({VR520_READY}); // the receiver's own ready, which never saw an answer
    EXPECT_EQ(h.Sent(1), Bytes{VR520_READY});
    h.Receive({VR520_FUNC});
    EXPECT_EQ(h.Sent(1), Bytes{FUNC_PROGRAM});
    EXPECT_TRUE(h.window.boxes.empty());
}

TEST_F(DownloadExchangeTest, AFunctionRequestBehindAReadyInOneDeliveryIsServed)
{
    // The receiver's ready repeated as our answer crossed it, then its function
    // request: both in one delivery, at once or past the guard.
    for (const int laterMs : {0, CInfoPage::kReadyRepeatGuardMs})
    {
        CDownloadHarness fresh;
        fresh.Load("fw.bin", MakeImage({Firmware(3000)}));
        fresh.Receive({VR520_READY});
        EXPECT_EQ(fresh.SentNow(), Bytes{VR520_READY});
        fresh.clock.Advance(laterMs);
        fresh.Receive({VR520_READY, VR520_FUNC});
        EXPECT_EQ(fresh.SentNow(), Bytes{FUNC_PROGRAM}) << "the ready is not answered again " << laterMs;
        EXPECT_EQ(fresh.page->State(), CDownloadPage::WaitFunctionReply) << laterMs;
    }
}

TEST_F(DownloadExchangeTest, ALineThatWillNotReopenAtTheNewRateEndsTheTransferAsALostPort)
{
    h.Load("fw.bin", MakeImage({Firmware(3000)}));
    h.page->SetBaudRate(115200);
    h.line.bFailOpen = true;
    h.Receive({VR520_RATE});
    EXPECT_EQ(h.SentNow(), Bytes{0x05});
    ASSERT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::PortLost});
    EXPECT_EQ(h.window.transferEnds[0].reason, "COM2 could not be opened again at 115200 baud");
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady) << "the image stays chosen";
    EXPECT_EQ(h.line.events.back(), "purge") << "the reset tried the resting rate";
}

TEST_F(DownloadExchangeTest, AnImageChangedOnDiskEndsTheTransferAndNothingUnreadIsSent)
{
    const Bytes image = MakeImage({Eeprom(), Analog()});
    struct Case
    {
        const char* what;
        int packetsBefore;
        std::uintmax_t cutAt; // 0: rewritten in place instead
        Bytes request;
    };
    const Case cases[] = {{"shortened inside a module", 1, 64 + 1500, {VR520_DATA, 2}},
                          {"shortened where a module ends", 2, 64 + 2048, {VR520_HEADER2}},
                          {"rewritten in place", 1, 0, {VR520_DATA, 2}}};
    for (const Case& c : cases)
    {
        h.Load("data.bin", image);
        const std::string path = h.page->FilePath();
        h.Receive({VR520_READY});
        h.Receive({VR520_FUNC});
        h.Receive({0x01});
        h.Receive({VR520_HEADER2});
        h.SentNow();
        for (int k = 1; k <= c.packetsBefore; ++k)
            h.RequestPacket(std::uint8_t(k));
        if (c.cutAt != 0)
        {
            std::filesystem::resize_file(path, c.cutAt);
        }
        else
        {
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(64 + 1024).write("new", 3);
            std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
        }
        h.window.ClearHistory();
        h.Receive(c.request);
        EXPECT_TRUE(h.SentNow().empty()) << c.what;
        EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"ERROR : Cannot read " + path +
                                                                ": it changed on disk since it was chosen. "
                                                                "Choose the file again."})
            << c.what;
        EXPECT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::ImageError}) << c.what;
    }
}

TEST_F(DownloadExchangeTest, StatusReportDuringDataThenTheSameBytesInWaitReady)
{
    h.Load("fw.bin", MakeImage({Firmware(5000)}));
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.window.ClearHistory();
    h.Receive({'P', 'T'});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"ERROR : Header is wrong"});
    EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::StatusReport});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
    EXPECT_EQ(h.window.TopLog(4), (std::vector<std::string>{"Invalid Protocol : VR520_READY", "[rd] msg(54)",
                                                             "[rd] msg(50)", "State Reset"}));
}

TEST_F(DownloadExchangeTest, ReceiverCompletionEndsTheTransfer)
{
    h.Load("fw.bin", MakeImage({Firmware(5000)}));
    h.Receive({VR520_READY});
    h.Receive({'P', 'S'});
    EXPECT_TRUE(h.window.boxes.empty());
    EXPECT_EQ(h.window.TopLog(2), (std::vector<std::string>{"State Reset", "Download complete"}));
    EXPECT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
}

TEST_F(DownloadExchangeTest, RequestsSplitAcrossDeliveriesAreHandledWhole)
{
    const Bytes image = MakeImage({Firmware(5000)});
    h.Load("fw.bin", image);
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.Receive({VR520_DATA});
    EXPECT_TRUE(h.SentNow().empty()) << "waits for the block number";
    h.Receive({0x01});
    const Bytes p1 = h.Sent(kPacketSize);
    ASSERT_TRUE(IsValidPacket(p1));
    EXPECT_EQ(p1[1], 1);
    EXPECT_TRUE(h.window.boxes.empty());

    h.Receive({'P'});
    EXPECT_TRUE(h.window.boxes.empty());
    h.Receive({'W'});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"ERROR  : Checksum check"});
    ASSERT_EQ(h.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::StatusReport});
    EXPECT_EQ(h.window.transferEnds[0].reason, "ERROR  : Checksum check");
}

TEST_F(DownloadExchangeTest, ALone0x69JoinsOnlyABlockNumber)
{
    // What follows a request cut after its 0x69 is read as its block number
    // only when it can be one; a restart or a status report stays what it is.
    const struct
    {
        Bytes next;
        Bytes answer;
        TransferEndKind end;
    } cases[] = {
        {{VR520_READY}, {VR520_READY}, TransferEndKind::Reset},
        {{'P', 'W'}, {}, TransferEndKind::StatusReport},
    };
    for (const auto& c : cases)
    {
        CDownloadHarness fresh;
        fresh.Load("fw.bin", MakeImage({Firmware(5000)}));
        for (const Bytes& step : {Bytes{VR520_READY}, Bytes{VR520_FUNC}, Bytes{0x01}, Bytes{VR520_HEADER2}})
            fresh.Receive(step);
        fresh.RequestPacket(1);
        fresh.SentNow();
        fresh.Receive({VR520_DATA});
        fresh.Receive(c.next);
        EXPECT_EQ(fresh.SentNow(), c.answer) << int(c.next[0]);
        const bool restarted = c.end == TransferEndKind::Reset;
        EXPECT_EQ(fresh.page->State(), restarted ? CDownloadPage::WaitFunction : CDownloadPage::WaitReady);
        EXPECT_EQ(fresh.window.EndKinds(), restarted ? std::vector<TransferEndKind>{}
                                                     : std::vector<TransferEndKind>{c.end});
    }
}

TEST_F(DownloadExchangeTest, LoneStatusByteNotFollowedByItsLetterKeepsTheNextRequest)
{
    // A stray 'P' and then the receiver's header request in the next delivery:
    // the 'P' is answered on its own and the request is still served.
    const Bytes image = MakeImage({Firmware(5000)});
    h.Load("fw.bin", image);
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.SentNow();
    h.window.ClearHistory();
    h.Receive({'P'});
    h.Receive({VR520_HEADER2});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"Invalid Protocol : VR520_HEADER2"});
    const Bytes header = h.Sent(kHeaderBlockSize);
    ASSERT_EQ(header.size(), 64u);
    EXPECT_TRUE(std::equal(header.begin(), header.begin() + 44, image.begin()));
    EXPECT_EQ(h.page->State(), CDownloadPage::SendingData);

    // A stray 'P' and then a whole report: the report is still seen.
    h.window.ClearHistory();
    h.Receive({'P'});
    h.Receive({'P', 'V'});
    EXPECT_EQ(h.window.BoxTexts(), std::vector<std::string>{"ERROR : Count Number"});
    EXPECT_EQ(h.page->State(), CDownloadPage::WaitReady);
}

TEST_F(DownloadExchangeTest, EstimateShowsWhenThePacketNumberBecomesAMultipleOfFour)
{
    h.Load("fw.bin", MakeImage({Firmware(9 * 1024)}));
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    std::vector<int> shownAfter;
    for (int k = 1; k <= 8; ++k)
    {
        h.window.ClearHistory();
        h.clock.Advance(1000);
        h.RequestPacket(std::uint8_t(k % 10));
        if (h.window.texts.count(IDC_ESTIMATED_TIME) &&
            std::any_of(h.window.events.begin(), h.window.events.end(),
                        [](const std::string& e) { return e.rfind("SetText 1027", 0) == 0; }))
            shownAfter.push_back(k);
    }
    EXPECT_EQ(shownAfter, (std::vector<int>{3, 7}));
    EXPECT_EQ(h.window.texts[IDC_CURRENT_TIME], FormatDuration(h.page->ElapsedTime()));
}

TEST_F(DownloadExchangeTest, EstimateOfALargeImageDoesNotOverflow)
{
    h.Load("flash.bin", MakeImage({Flash()}));
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.SentNow();
    h.clock.Advance(10000 * 1000); // 262144 x 10000 does not fit in 32 bits
    h.RequestPacket(1);
    const std::int64_t elapsed = h.page->ElapsedTime();
    EXPECT_GE(elapsed, 10000);
    EXPECT_EQ(h.page->EstimatedTime(), 262144 * elapsed / 1024);
}

TEST_F(DownloadExchangeTest, APacketKeepsItsPausesOnTheLine)
{
    h.Load("fw.bin", MakeImage({Firmware(3000)}));
    h.Receive({VR520_READY});
    h.Receive({VR520_FUNC});
    h.Receive({0x01});
    h.Receive({VR520_HEADER2});
    h.line.TakeAll();
    std::vector<std::pair<std::int64_t, std::size_t>> writes; // (time, bytes)
    std::int64_t purgedAt = -1;
    h.line.onSend = [&](const std::uint8_t*, std::size_t length) { writes.emplace_back(h.clock.NowMs(), length); };
    h.line.onPurge = [&] { purgedAt = h.clock.NowMs(); };

    const std::int64_t asked = h.clock.NowMs();
    ASSERT_TRUE(IsValidPacket(h.RequestPacket(1)));
    // Head, data and the first CRC byte at once, 10 ms after the request; then
    // 1 ms after each CRC byte.
    const std::vector<std::pair<std::int64_t, std::size_t>> expected = {
        {asked + 10, 1027}, {asked + 11, 1}, {asked + 12, 1}, {asked + 13, 1}};
    EXPECT_EQ(writes, expected);
    // The pause after the last CRC byte does not hold the thread, but the line
    // is not used before it has passed: a purge right away comes 1 ms later.
    EXPECT_EQ(h.clock.NowMs(), asked + 13);
    h.page->OnActivatePage();
    EXPECT_EQ(purgedAt, asked + 14);
}

// The upload engine against a scripted receiver: the exchange byte for byte,
// the packets' checks, retransmissions and the file the page writes.
#include "support/UploadRig.h"
#include "ui/ControlIds.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace
{
// CUploadPage's State enum hides the base's State(); read it through the base.
int StateOf(const CInfoPage& page)
{
    return page.State();
}

Bytes Request(int packetNumber)
{
    return {PACKET_REQUEST, std::uint8_t(packetNumber % 10)};
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Index of `line` in the log counted from the oldest line, or -1.
int LogAge(const CRecordingWindow& window, const std::string& line)
{
    const auto it = std::find(window.log.rbegin(), window.log.rend(), line);
    return it == window.log.rend() ? -1 : int(it - window.log.rbegin());
}

class UploadEngineTest : public ::testing::Test
{
protected:
    CUploadRig rig;
    CUploadPage& page = *rig.page;
    CRecordingWindow& window = rig.window;
};
} // namespace

TEST_F(UploadEngineTest, FullExchangeOfFlashAndEepromWritesTheFileByteForByte)
{
    rig.Browse();
    rig.Feed({VR520_RATE});
    EXPECT_EQ(rig.Sent(), Bytes{0x01});
    rig.Feed({VR520_READY});
    EXPECT_EQ(rig.Sent(), Bytes{VR520_READY});
    EXPECT_EQ(StateOf(page), CUploadPage::WaitFunction);
    EXPECT_EQ(window.transfersStarted, 1);
    rig.Feed({VR520_FUNC});
    EXPECT_EQ(rig.Sent(), Bytes{FUNC_UPLOAD_DIGITAL});
    EXPECT_EQ(window.ranges.at(IDC_TOTAL_BAR), std::make_pair(0, 52838));
    rig.Feed({0x01});
    EXPECT_TRUE(page.IsOutputOpen());
    EXPECT_FALSE(fs::exists(rig.target)) << "the chosen file appears only when the upload completes";
    rig.Feed({VR520_STARD_UPLOAD});
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});

    // The flash in its full 256 packets, then the EEPROM's two.
    rig.SendModule(1, 1, 256, 1);
    Bytes expectedRequests;
    for (int k = 1; k <= 256; ++k)
        expectedRequests = Concat({expectedRequests, Request(k)});
    expectedRequests.push_back(HEADER_REQUEST);
    EXPECT_EQ(rig.Sent(), expectedRequests);
    EXPECT_EQ(page.ModuleSize(), 262144);
    rig.SendModule(1, 0, 2, 2);
    EXPECT_EQ(rig.Sent(), Concat({Request(1), Request(2), {HEADER_REQUEST}}));
    EXPECT_EQ(page.ModuleSize(), 2048);
    EXPECT_EQ(page.BytesDone(), 258 * 1030);

    window.ClearHistory();
    window.beeps.clear();
    rig.Finish();
    EXPECT_EQ(ReadFileBytes(rig.target), ToString(rig.expectedFile));
    EXPECT_EQ(fs::file_size(rig.target), 2u * 64 + 258u * 1024);
    EXPECT_FALSE(fs::exists(rig.target + ".partial"));
    EXPECT_EQ(window.BoxTexts(), std::vector<std::string>{"Upload Complete"});
    EXPECT_EQ(window.boxes.back().detail, "Saved as " + rig.target) << "the box says where the file is";
    EXPECT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_EQ(page.FilePath(), rig.target);
    EXPECT_TRUE(page.IsStepLit(1));
    EXPECT_FALSE(page.IsStepLit(3));
    EXPECT_EQ(window.beeps, (std::vector<std::pair<int, int>>{{4000, 200}, {2000, 200}}));
}

TEST_F(UploadEngineTest, EachKindAsksItsFunctionAndCountsItsOwnTotal)
{
    const struct
    {
        UploadKind kind;
        std::uint8_t function;
        std::string log;
        int total;
        std::vector<std::pair<std::uint8_t, std::uint8_t>> modules; // (digital, flash) as the receiver answers
    } cases[] = {
        {UploadKind::Digital, 0x01, "[sd msg] function <upload digital only>", 264192, {{1, 1}, {1, 0}}},
        {UploadKind::Analog, 0x02, "[sd msg] function <upload analog only>", 14336, {{0, 0}}},
        {UploadKind::All, 0x03, "[sd msg] function <upload digital&analog>", 278528, {{1, 1}, {1, 0}, {0, 0}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.log);
        CUploadRig fresh;
        fresh.page->SetUploadKind(c.kind);
        fresh.Browse();
        fresh.Feed({VR520_READY});
        fresh.Sent();
        fresh.Feed({VR520_FUNC});
        EXPECT_EQ(fresh.Sent(), Bytes{c.function});
        EXPECT_EQ(fresh.window.TopLog(1), std::vector<std::string>{c.log});
        EXPECT_EQ(fresh.page->TotalBytes(), c.total);
        const int scale = fresh.page->ProgressScale();
        EXPECT_EQ(scale, std::max(c.total / 65536, 1) + 1);
        EXPECT_EQ(fresh.window.ranges.at(IDC_TOTAL_BAR), std::make_pair(0, c.total / scale));
        fresh.Feed({0x01});
        fresh.Feed({VR520_STARD_UPLOAD});
        int module = 0;
        for (const auto& [digital, flash] : c.modules)
        {
            const int length = digital == 0 ? kAnalogModuleLength : flash != 0 ? kFlashModuleLength : kEepromModuleLength;
            fresh.SendModule(digital, flash, length / kPacketDataSize, ++module);
        }
        fresh.Finish();
        EXPECT_EQ(fresh.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
        EXPECT_EQ(ReadFileBytes(fresh.target), ToString(fresh.expectedFile));
        EXPECT_GE(fresh.page->BytesDone(), c.total) << "the total is what the kind brings";
    }
    SetClock(&rig.clock); // each fresh rig put the real clock back
}

TEST_F(UploadEngineTest, TheReadyAfterNoiseIsAnsweredOncePastTheGuard)
{
    rig.Browse();
    window.ClearHistory();
    rig.Feed({0x5A, VR520_READY, 0x13}); // boot noise holding 0xCD starts the exchange
    EXPECT_EQ(rig.Sent(), Bytes{VR520_READY});
    rig.Feed({VR520_READY}); // at once: it crossed the answer
    EXPECT_TRUE(rig.Sent().empty());
    rig.clock.Advance(CInfoPage::kReadyRepeatGuardMs);
    rig.Feed({VR520_READY}); // the receiver's own ready, which never saw an answer
    EXPECT_EQ(rig.Sent(), Bytes{VR520_READY});
    rig.Feed({VR520_FUNC});
    EXPECT_EQ(rig.Sent(), Bytes{FUNC_UPLOAD_DIGITAL});
    EXPECT_TRUE(window.boxes.empty()) << window.boxes.front().text;
}

TEST_F(UploadEngineTest, AFunctionRequestBehindAReadyInOneDeliveryIsServed)
{
    // The receiver's ready repeated as our answer crossed it, then its function
    // request: both in one delivery, at once or past the guard.
    for (const int laterMs : {0, CInfoPage::kReadyRepeatGuardMs})
    {
        CUploadRig fresh;
        fresh.Browse();
        fresh.Feed({VR520_READY});
        EXPECT_EQ(fresh.Sent(), Bytes{VR520_READY});
        fresh.clock.Advance(laterMs);
        fresh.Feed({VR520_READY, VR520_FUNC});
        EXPECT_EQ(fresh.Sent(), Bytes{FUNC_UPLOAD_DIGITAL}) << "the ready is not answered again " << laterMs;
        EXPECT_EQ(StateOf(*fresh.page), CUploadPage::WaitFunctionRequest) << laterMs;
    }
    SetClock(&rig.clock); // each fresh rig put the real clock back
}

TEST_F(UploadEngineTest, AModuleWhoseDataDoesNotFitItsKindEndsTheUpload)
{
    // The file is read back module by module, each header block telling how
    // much data follows; another amount would not load as an image.
    const struct
    {
        Bytes header;
        int packets; // sent, the last one marked 0xEE
        int failsAt; // the packet after which the upload ends
        std::string text;
    } cases[] = {
        {{0x02, 0x01, 0x00}, 10, 2, "Module 1 (header (2),(1),(0): digital EEPROM, 2048 bytes) goes on past 2048 bytes"},
        {{0x05, 0xFF, 0xFF}, 7, 7, "Module 1 (header (5),(ff),(ff): digital flash, 262144 bytes) ended after 7168 bytes"},
    };
    for (const auto& c : cases)
    {
        CUploadRig fresh;
        fresh.StartUpload();
        fresh.Feed(c.header);
        fresh.Sent();
        for (int k = 1; k <= c.failsAt; ++k)
        {
            fresh.Sent();
            fresh.Feed(MakeUploadPacket(k == c.packets ? LAST_BLOCK : std::uint8_t(k % 10), PacketData(1, k)));
        }
        EXPECT_TRUE(fresh.Sent().empty()) << "nothing asked after the fault: " << c.text;
        ASSERT_FALSE(fresh.window.boxes.empty());
        EXPECT_EQ(fresh.window.boxes.back().text.rfind("ERROR : " + c.text, 0), 0u) << fresh.window.boxes.back().text;
        ASSERT_EQ(fresh.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::ImageError});
        EXPECT_EQ(fresh.window.transferEnds[0].reason.rfind(c.text, 0), 0u);
        EXPECT_FALSE(fs::exists(fresh.target)) << "never saved as complete";
        EXPECT_EQ(fs::file_size(fresh.target + ".partial"), 64u + 1024u * unsigned(c.failsAt));
        EXPECT_EQ(StateOf(*fresh.page), CUploadPage::WaitReady);
    }
    SetClock(&rig.clock);
}

TEST_F(UploadEngineTest, ModuleHeaderBlocksCarryTheReceivedKindAndSize)
{
    rig.StartUpload();
    rig.SendModule(1, 1, 256, 0x5A);
    rig.SendModule(0, 0, 14, 0x01);
    rig.Finish();
    const std::string file = ReadFileBytes(rig.target);
    ASSERT_EQ(file.size(), 2u * 64 + 270u * 1024);
    const auto* flash = reinterpret_cast<const std::uint8_t*>(file.data());
    const auto* analog = flash + 64 + 262144;
    const ModuleHeader initial = InitialModuleHeader();
    EXPECT_EQ(flash[0], 0x5A);
    EXPECT_TRUE(std::equal(flash + 1, flash + 31, initial.bytes + 1)) << "maker text and fill kept";
    EXPECT_EQ((Bytes{flash[31], flash[32], flash[33]}), (Bytes{0, 1, 1}));
    EXPECT_EQ((Bytes{flash[36], flash[37], flash[38], flash[39]}), (Bytes{0x00, 0x00, 0x04, 0x00}));
    EXPECT_TRUE(std::all_of(flash + 44, flash + 64, [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ((Bytes{analog[0], analog[32], analog[33], analog[36], analog[37]}), (Bytes{0x01, 0, 0, 0x00, 0x38}));
}

TEST_F(UploadEngineTest, RateQueryIsAnsweredAt9600WhateverRateIsSelected)
{
    rig.Browse();
    for (int rate : {9600, 19200, 38400, 57600, 115200})
    {
        const auto lineEvents = rig.line.events.size();
        page.SetBaudRate(rate);
        rig.Feed({VR520_RATE});
        EXPECT_EQ(rig.Sent(), Bytes{0x01}) << rate;
        EXPECT_EQ(rig.line.events.size(), lineEvents) << "no reopen at " << rate;
        EXPECT_EQ(rig.line.baudRate, 9600);
        EXPECT_EQ(theLinkSettings.openBaudRate, rate) << "the choice is remembered for the next open";
    }
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
}

TEST_F(UploadEngineTest, ReadyMayStandAnywhereInTheChunk)
{
    rig.Browse();
    rig.Feed({0x00});
    EXPECT_TRUE(window.beeps.empty()) << "a zero byte is silence";
    rig.Feed({0x41, 0x42});
    EXPECT_EQ(window.beeps, (std::vector<std::pair<int, int>>{{2000, 200}, {4000, 200}}));
    EXPECT_EQ(window.TopLog(2), (std::vector<std::string>{"Invalid Protocol : VR520_READY", "[rd] msg(41)"}));
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_TRUE(rig.Sent().empty());

    const auto slept = rig.clock.SleptMs();
    rig.Feed({0x41, 0xCD});
    EXPECT_EQ(rig.clock.SleptMs() - slept, 400) << "two 200 ms tones";
    EXPECT_EQ(rig.Sent(), Bytes{VR520_READY});
    EXPECT_EQ(StateOf(page), CUploadPage::WaitFunction);
    EXPECT_EQ(window.TopLog(3), (std::vector<std::string>{"[sd msg] ready ack", "[rd msg] ready", "[rd] msg(41)"}));
    EXPECT_TRUE(window.animations.at(IDC_ANIMATION).playing);
    EXPECT_EQ(window.texts.at(IDC_CURRENT_TIME), " 00 m 00 s");
    EXPECT_TRUE(page.IsStepLit(3));
}

TEST_F(UploadEngineTest, AnEmptyChunkReadsAsAZeroByteInEveryState)
{
    rig.Browse();
    rig.Feed({});
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_TRUE(window.beeps.empty());

    rig.Feed({VR520_READY});
    rig.Feed({});
    EXPECT_EQ(window.boxes.back().text, "Invalid Protocol : VR520_FUNC");
    EXPECT_EQ(StateOf(page), CUploadPage::WaitFunction);

    rig.Feed({VR520_FUNC, 0x00}); // the byte after the first does not count
    EXPECT_EQ(StateOf(page), CUploadPage::WaitFunctionRequest);
    rig.Feed({0x01});
    rig.Feed({});
    EXPECT_EQ(window.boxes.back().text, "Invalid Protocol : VR520_STARD_UPLOAD");
    EXPECT_EQ(StateOf(page), CUploadPage::WaitStartUpload);
}

TEST_F(UploadEngineTest, RefusedFunctionResetsAndKeepsThePathWithoutCreatingTheFile)
{
    rig.Browse();
    rig.Feed({VR520_READY});
    rig.Feed({VR520_FUNC});
    rig.Sent();
    page.SetBaudRate(57600);
    const auto slept = rig.clock.SleptMs();
    rig.Feed({}); // an empty chunk is a refusal here
    EXPECT_EQ(StateOf(page), CUploadPage::WaitReady);
    EXPECT_EQ(page.FilePath(), rig.target);
    EXPECT_TRUE(window.LogContains("State Reset"));
    EXPECT_EQ(window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Refused});
    EXPECT_EQ(rig.clock.SleptMs() - slept, 1110) << "the reset's pauses";
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600);
    EXPECT_TRUE(rig.line.IsOpen());
    EXPECT_EQ(rig.line.baudRate, 9600) << "the line is back at rest";
    EXPECT_TRUE(fs::is_empty(rig.dir)) << "nothing created, no temporary file left";
}

TEST_F(UploadEngineTest, HeaderSplitOneAndTwoIsHandledOnce)
{
    rig.StartUpload();
    rig.Sent();
    rig.Feed({0x01});
    EXPECT_TRUE(rig.Sent().empty());
    EXPECT_EQ(StateOf(page), CUploadPage::ReceiveModuleHeader);
    rig.Feed({0x01, 0x00});
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(StateOf(page), CUploadPage::ReceivePacket);
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "data header : (1),(1),(0)"), 1);
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "Digital, eeprom"), 1);
    EXPECT_FALSE(window.LogContains("remain data"));
}

TEST_F(UploadEngineTest, RepeatsOfTheStartAreDroppedOnlyWhereTheyCannotBeTheFirstHeader)
{
    // The receiver repeats 0xD1 until our header request reaches it; the
    // header's lead byte may be 0xD1 all the same.
    const struct
    {
        const char* what;
        std::vector<Bytes> deliveries;
        const char* header;
    } cases[] = {
        {"lone repeats, then the header", {{VR520_STARD_UPLOAD}, {VR520_STARD_UPLOAD}, {0x01, 0x01, 0x01}},
         "data header : (1),(1),(1)"},
        {"a repeat ahead of the whole header", {{VR520_STARD_UPLOAD, 0x02, 0x01, 0x00}}, "data header : (2),(1),(0)"},
        {"a lead byte 0xD1", {{VR520_STARD_UPLOAD, 0x01, 0x00}}, "data header : (d1),(1),(0)"},
        {"a lead byte 0xD1, split", {{VR520_STARD_UPLOAD, 0x01}, {0x00}}, "data header : (d1),(1),(0)"},
    };
    for (const auto& c : cases)
    {
        CUploadRig fresh;
        fresh.StartUpload();
        fresh.Sent();
        for (const Bytes& delivery : c.deliveries)
            fresh.Feed(delivery);
        EXPECT_EQ(fresh.Sent(), Request(1)) << c.what;
        EXPECT_TRUE(fresh.window.LogContains(c.header)) << c.what;
    }
    SetClock(&rig.clock); // each fresh rig put the real clock back
}

TEST_F(UploadEngineTest, ExtraBytesAfterTheHeaderAreDroppedAndPacketOneStillAsked)
{
    rig.StartUpload();
    rig.Sent();
    rig.Feed({0x01, 0x01, 0x01, 0x69, 0x01});
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_TRUE(window.LogContains("remain data"));
    EXPECT_EQ(page.BytesDone(), 0) << "the extra bytes are not packet data";
    // The packet that follows is collected from its first byte.
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)));
    EXPECT_EQ(rig.Sent(), Request(2));
}

TEST_F(UploadEngineTest, ClosingHeaderLogsZerosAndAnalogBeforeCompletion)
{
    rig.StartUpload();
    rig.SendModule(1, 0, 2, 1);
    rig.Finish();
    const int header = LogAge(window, "data header : (0),(0),(0)");
    const int analog = LogAge(window, "Analog");
    const int complete = LogAge(window, "Upload Complete");
    ASSERT_GE(header, 0);
    EXPECT_LT(header, analog);
    EXPECT_LT(analog, complete);
    EXPECT_EQ(page.TimerTicks(), -1) << "no time-out left armed";
}

TEST_F(UploadEngineTest, CrcWrongInAnyByteIsRefusedAndAskedAgainAfterTwoSeconds)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00});
    rig.Sent();
    const Bytes data = PacketData(1, 1);
    const Bytes good = MakeUploadPacket(1, data);
    int bytesDone = 0;
    for (int crcByte = 1026; crcByte < 1030; ++crcByte)
    {
        Bytes bad = good;
        bad[std::size_t(crcByte)] ^= 0x10;
        const auto slept = rig.clock.SleptMs();
        rig.Feed(bad);
        bytesDone += 1030;
        EXPECT_EQ(rig.clock.SleptMs() - slept, 2000) << crcByte;
        EXPECT_EQ(rig.Sent(), Request(1)) << crcByte;
        EXPECT_EQ(window.TopLog(2),
                  (std::vector<std::string>{"Timeout : Request retransmission (1)", "CRC Error"}));
        EXPECT_EQ(page.BytesDone(), bytesDone) << "a refused packet is counted all the same";
        EXPECT_EQ(StateOf(page), CUploadPage::ReceivePacket);
    }
    rig.Feed(good);
    EXPECT_EQ(rig.Sent(), Request(2));
    rig.Feed(MakeUploadPacket(LAST_BLOCK, PacketData(1, 2)));
    rig.Finish();
    EXPECT_EQ(fs::file_size(rig.target), 64u + 2048u) << "only the good copy reached the file";
}

TEST_F(UploadEngineTest, PacketsWithoutTheirMarkAreRefusedEvenWithAValidCrc)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00});
    rig.Sent();
    rig.Feed(Bytes(1030, 0x00)); // a dead line: the CRC of zeros is zero
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(window.TopLog(2),
              (std::vector<std::string>{"Timeout : Request retransmission (1)", "invalid data header"}));
    Bytes wrongMark = MakeUploadPacket(2, PacketData(1, 1));
    wrongMark[0] = 0x68;
    rig.Feed(wrongMark);
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(page.PacketNumber(), 1);
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)));
    rig.Feed(MakeUploadPacket(LAST_BLOCK, PacketData(1, 2)));
    rig.Finish();
    EXPECT_EQ(ReadFileBytes(rig.target).substr(64), ToString(PacketData(1, 1)) + ToString(PacketData(1, 2)))
        << "nothing refused was written";
}

TEST_F(UploadEngineTest, PacketTenIsRequestedAsZeroAndOddSequenceBytesStillCount)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x01});
    rig.Sent();
    for (int k = 1; k <= 9; ++k)
        rig.Feed(MakeUploadPacket(std::uint8_t(k), PacketData(1, k)));
    const Bytes sent = rig.Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(Bytes(sent.end() - 2, sent.end()), (Bytes{0x69, 0x00}));
    EXPECT_EQ(window.log.front(), "[sd msg] Next packet request (10)");
    // A sequence byte that is neither expected nor the previous one is taken as the next packet.
    rig.Feed(MakeUploadPacket(7, PacketData(1, 10)));
    EXPECT_EQ(rig.Sent(), Request(11));
    EXPECT_EQ(page.PacketNumber(), 11);
}

TEST_F(UploadEngineTest, DuplicateOfThePreviousPacketIsDroppedUnwritten)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00});
    rig.Sent();
    const Bytes first = MakeUploadPacket(1, PacketData(1, 1));
    rig.Feed(first);
    EXPECT_EQ(rig.Sent(), Request(2));
    rig.Feed(first); // the slow receiver's answer to a repeated request
    EXPECT_TRUE(rig.Sent().empty()) << "no new request: packet 2 is on its way";
    EXPECT_EQ(window.log.front(), "Duplicate packet (1) dropped");
    EXPECT_EQ(page.PacketNumber(), 2);
    rig.Feed(MakeUploadPacket(LAST_BLOCK, PacketData(1, 2)));
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});
    rig.Finish();
    const std::string file = ReadFileBytes(rig.target);
    const Bytes d1 = PacketData(1, 1), d2 = PacketData(1, 2);
    EXPECT_EQ(file.substr(64), ToString(d1) + ToString(d2));
}

TEST_F(UploadEngineTest, PacketRightBehindADuplicateInTheSameChunkIsKept)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00});
    const Bytes first = MakeUploadPacket(1, PacketData(1, 1));
    rig.Feed(first);
    rig.Sent();
    // The copy's last 30 bytes and the first 70 of packet 2 share a delivery.
    rig.Feed(Concat({first, MakeUploadPacket(LAST_BLOCK, PacketData(1, 2))}));
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});
    EXPECT_FALSE(window.LogContains("CRC Error"));
    rig.Finish();
    EXPECT_EQ(ReadFileBytes(rig.target).substr(64), ToString(PacketData(1, 1)) + ToString(PacketData(1, 2)));
}

TEST_F(UploadEngineTest, RepeatOfAModulesLastPacketIsNotTakenForTheNextHeader)
{
    // The slow receiver's second copy of the last packet comes where the next
    // header is expected: whole, or with its 0x69 alone in a delivery.
    for (const bool split : {false, true})
    {
        CUploadRig fresh;
        fresh.StartUpload();
        fresh.SendModule(1, 0, 2, 1);
        EXPECT_EQ(fresh.Sent().back(), HEADER_REQUEST);
        const Bytes last = MakeUploadPacket(LAST_BLOCK, PacketData(1, 2));
        if (split)
        {
            fresh.Feed({last[0]});
            fresh.Feed(Bytes(last.begin() + 1, last.end()));
        }
        else
            fresh.Feed(last);
        EXPECT_EQ(fresh.window.log.front(), "Duplicate packet (ee) dropped") << split;
        EXPECT_TRUE(fresh.Sent().empty()) << split;
        fresh.SendModule(1, 0, 2, 0x69); // a lead byte 0x69 is still a header's
        fresh.Finish();
        EXPECT_TRUE(fresh.window.LogContains("Upload Complete")) << split;
        EXPECT_EQ(ReadFileBytes(fresh.target), ToString(fresh.expectedFile)) << split;
    }
    SetClock(&rig.clock); // each fresh rig put the real clock back
}

TEST_F(UploadEngineTest, LastBlockEndsTheModuleAndTheNextStartsAtPacketOne)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x00});
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)));
    rig.Sent();
    rig.Feed(MakeUploadPacket(LAST_BLOCK, PacketData(1, 2)));
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});
    EXPECT_EQ(window.log.front(), "1 module download");
    EXPECT_EQ(StateOf(page), CUploadPage::ReceiveModuleHeader);
    rig.Feed({0x02, 0x01, 0x00});
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(page.PacketNumber(), 1);
}

TEST_F(UploadEngineTest, BytesDoneCountsWholePacketsAndTheBarsStopAtTheirMaximum)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x01});
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)), 7);
    EXPECT_EQ(page.BytesDone(), 1030);
    EXPECT_EQ(window.positions.at(IDC_TOTAL_BAR), (1030 - 2) / 5) << "set before the last chunk";
    page.OnTimer(kPageTimerId); // one tick: the time-out is not yet due
    EXPECT_EQ(page.BytesDone(), 1030);

    // Retransmissions can carry the count past the total; the bars hold at the top.
    for (int k = 2; k <= 255; ++k)
        rig.Feed(MakeUploadPacket(std::uint8_t(k % 10), PacketData(1, k)));
    Bytes refused = MakeUploadPacket(6, PacketData(1, 256));
    refused[1029] ^= 0x01;
    for (int copy = 1; copy <= 3; ++copy)
        rig.Feed(refused);
    rig.Feed(refused, 1);
    EXPECT_EQ(page.BytesDone(), 259 * 1030);
    EXPECT_EQ(window.positions.at(IDC_TOTAL_BAR), 52838);
    EXPECT_EQ(window.positions.at(IDC_MODULE_BAR), 52838);
    EXPECT_EQ(window.ranges.at(IDC_MODULE_BAR), std::make_pair(0, 52838));
}

TEST_F(UploadEngineTest, EstimateRefreshesOnEveryEighthPacketAndElapsedOnEach)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x01});
    std::vector<std::string> estimates, elapsed;
    for (int k = 1; k <= 17; ++k)
    {
        rig.clock.Advance(1000);
        window.ClearHistory();
        rig.Feed(MakeUploadPacket(std::uint8_t(k % 10), PacketData(1, k)));
        for (const auto& event : window.events)
        {
            if (event.rfind("SetText 1027 ", 0) == 0)
                estimates.push_back(std::to_string(k) + ":" + event.substr(13));
            if (event.rfind("SetText 1028 ", 0) == 0)
                elapsed.push_back(event.substr(13));
        }
    }
    // After 8 packets (8240 bytes) in 8 s the whole upload takes 264192 * 8 / 8240 = 256 s.
    EXPECT_EQ(estimates, (std::vector<std::string>{"8: 04 m 16 s", "16: 04 m 16 s"}));
    EXPECT_EQ(elapsed.size(), 17u);
    EXPECT_EQ(elapsed.back(), " 00 m 17 s");
    ASSERT_EQ(window.progress.size(), 1u);
    EXPECT_EQ(window.progress.back().packet, 17);
    EXPECT_EQ(window.progress.back().estimatedSeconds, 256);
}

TEST_F(UploadEngineTest, TripleP_IsAnErrorReportOnlyOutsideAPacket)
{
    rig.Feed({'P', 'P', 'P'});
    EXPECT_EQ(window.BoxTexts(), (std::vector<std::string>{"Error Happened", "Please, select a file to save"}));
    window.ClearHistory();
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x01});
    rig.Sent();
    window.ClearHistory();

    // Packet data that happens to begin a chunk with three 'P's is data.
    Bytes data = PacketData(1, 1);
    std::fill(data.begin() + 98, data.begin() + 101, 'P');
    rig.Feed(MakeUploadPacket(1, data));
    EXPECT_EQ(rig.Sent(), Request(2));
    EXPECT_TRUE(window.boxes.empty());

    // At a packet's start it is the receiver's report; the bytes are still collected.
    rig.Feed({'P', 'P', 'P'});
    EXPECT_EQ(window.BoxTexts(), std::vector<std::string>{"Error Happened"});
    EXPECT_EQ(page.BytesDone(), 1033);
}

TEST_F(UploadEngineTest, MissingPacketIsAskedForAgainAfterTheTimeout)
{
    rig.StartUpload();
    rig.Feed({0x01, 0x01, 0x01});
    rig.Sent();
    rig.Feed(Bytes(500, 0x69)); // half a packet, then silence
    for (int tick = 1; tick <= 10; ++tick)
        page.OnTimer(kPageTimerId);
    EXPECT_TRUE(rig.Sent().empty());
    page.OnTimer(kPageTimerId);
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(window.log.front(), "Timeout : Request retransmission (1)");
    EXPECT_EQ(window.positions.at(IDC_PACKET_BAR), 0);
    EXPECT_EQ(page.TimerTicks(), 10) << "armed again for the repeated request";
    // The repeated request is served from the packet's first byte.
    rig.Feed(MakeUploadPacket(1, PacketData(1, 1)));
    EXPECT_EQ(rig.Sent(), Request(2));
}

TEST_F(UploadEngineTest, MissingModuleHeaderIsAskedForAgain)
{
    rig.StartUpload();
    EXPECT_EQ(rig.Sent(), (Bytes{VR520_READY, FUNC_UPLOAD_DIGITAL, HEADER_REQUEST}));
    rig.Feed({0x01}); // a stray byte, then silence
    for (int tick = 1; tick <= 11; ++tick)
        page.OnTimer(kPageTimerId);
    EXPECT_EQ(rig.Sent(), Bytes{HEADER_REQUEST});
    EXPECT_EQ(window.log.front(), "Timeout : Request module header");
    rig.Feed({0x01, 0x01, 0x00});
    EXPECT_EQ(rig.Sent(), Request(1));
    EXPECT_EQ(page.ModuleSize(), 2048) << "the header was read whole, not from the stray byte";
}

TEST_F(UploadEngineTest, TimeoutOutsideATransferOnlyStopsTheTimer)
{
    rig.Browse();
    page.StartTimer(0, 0);
    page.OnTimer(kPageTimerId);
    EXPECT_EQ(page.TimerTicks(), -1);
    EXPECT_TRUE(rig.Sent().empty());
}

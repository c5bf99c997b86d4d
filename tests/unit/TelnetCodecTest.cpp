#include "serial/TelnetCodec.h"

#include <gtest/gtest.h>

using namespace telnet;

namespace
{
std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int value : values)
        out += char(value);
    return out;
}

// Feeds `wire` to a freshly started codec in two pieces split at `split`.
CTelnetCodec::Output FeedSplit(const std::string& wire, std::size_t split)
{
    CTelnetCodec codec;
    codec.Start(true);
    CTelnetCodec::Output out;
    codec.Feed(wire.data(), split, out);
    codec.Feed(wire.data() + split, wire.size() - split, out);
    return out;
}
} // namespace

TEST(TelnetCodecTest, DataBytesAreEscapedAndUnescapedWhereverTheReadSplits)
{
    std::string wire;
    CTelnetCodec::AppendEscaped(Bytes({0x01, 0xFF, 0xFF, 0x02}).data(), 4, wire);
    EXPECT_EQ(wire, Bytes({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
    for (std::size_t split = 0; split <= wire.size(); ++split)
    {
        const auto out = FeedSplit(wire, split);
        EXPECT_EQ(out.data, Bytes({0x01, 0xFF, 0xFF, 0x02})) << "split at " << split;
        EXPECT_TRUE(out.reply.empty());
    }
}

TEST(TelnetCodecTest, NegotiationAcceptsOurOptionsAndRefusesTheRestWhereverTheReadSplits)
{
    CTelnetCodec starter;
    EXPECT_EQ(starter.Start(true), Bytes({kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 44}));

    // The server agrees to binary and the Com Port option, asks for echo and
    // terminal type on its own, and sends line bytes in between.
    const std::string wire = Bytes({kIac, kDo, 0, 'a', kIac, kWill, 0, kIac, kWill, 1, kIac, kDo, 44, 'b', kIac, kDo,
                                    24, kIac, kWill, 0, kIac, 241});
    for (std::size_t split = 0; split <= wire.size(); ++split)
    {
        CTelnetCodec codec;
        codec.Start(true);
        CTelnetCodec::Output out;
        codec.Feed(wire.data(), split, out);
        codec.Feed(wire.data() + split, wire.size() - split, out);
        EXPECT_EQ(out.data, "ab") << "split at " << split;
        // Answers what it did not ask for, ignores repeats, never acknowledges twice.
        EXPECT_EQ(out.reply, Bytes({kIac, kDont, 1, kIac, kWont, 24})) << "split at " << split;
        ASSERT_EQ(out.events.size(), 1u);
        EXPECT_EQ(out.events[0].kind, CTelnetCodec::Event::Kind::ComPortAccepted);
        EXPECT_TRUE(codec.ComPortEnabled());
    }

    const auto refused = FeedSplit(Bytes({kIac, kDont, 44}), 2);
    ASSERT_EQ(refused.events.size(), 1u);
    EXPECT_EQ(refused.events[0].kind, CTelnetCodec::Event::Kind::ComPortRefused);
    EXPECT_TRUE(refused.reply.empty()) << "a refusal of our request is not answered";
}

TEST(TelnetCodecTest, ComPortRequestsAndTheServersAnswersRoundTripWhereverTheReadSplits)
{
    EXPECT_EQ(CTelnetCodec::ComPortRequest(ComPortCommand::SetBaudRate, 115200),
              Bytes({kIac, kSb, 44, 1, 0x00, 0x01, 0xC2, 0x00, kIac, kSe}));
    EXPECT_EQ(CTelnetCodec::ComPortRequest(ComPortCommand::PurgeData, kPurgeReceived),
              Bytes({kIac, kSb, 44, 12, 1, kIac, kSe}));
    // A rate with 0xFF bytes travels escaped inside the subnegotiation.
    EXPECT_EQ(CTelnetCodec::ComPortRequest(ComPortCommand::SetBaudRate, 0xFFFF),
              Bytes({kIac, kSb, 44, 1, 0, 0, kIac, kIac, kIac, kIac, kIac, kSe}));

    // Line bytes, the rate confirmed (101), a notification (107) and a control
    // answer (105), more line bytes.
    std::string wire = "x";
    std::string confirmation = CTelnetCodec::ComPortRequest(ComPortCommand::SetBaudRate, 0xFFFF);
    confirmation[3] = char(1 + kServerReplyOffset);
    wire += confirmation;
    wire += Bytes({kIac, kSb, 44, 107, 0x30, kIac, kSe, kIac, kSb, 44, 105, 8, kIac, kSe});
    wire += "yz";
    for (std::size_t split = 0; split <= wire.size(); ++split)
    {
        const auto out = FeedSplit(wire, split);
        EXPECT_EQ(out.data, "xyz") << "split at " << split;
        ASSERT_EQ(out.events.size(), 3u) << "split at " << split;
        EXPECT_EQ(out.events[0].command, ComPortCommand::SetBaudRate);
        EXPECT_EQ(out.events[0].value, 0xFFFFu);
        EXPECT_EQ(out.events[0].dataBefore, 1u);
        EXPECT_EQ(out.events[2].command, ComPortCommand::SetControl);
        EXPECT_EQ(out.events[2].value, 8u);
    }
}

// The receiver's upload role as scripts of bytes in and actions out.
#include "receiver/UploadRole.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes SentBytes(const std::vector<ReceiverAction>& actions)
{
    Bytes bytes;
    for (const auto& action : actions)
        if (action.kind == ReceiverAction::Kind::Send)
            bytes.insert(bytes.end(), action.bytes.begin(), action.bytes.end());
    return bytes;
}

ReceiverModule Module(std::uint8_t lead, std::uint8_t digital, std::uint8_t flash, std::uint8_t seed)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = lead;
    module.header.bytes[32] = digital;
    module.header.bytes[33] = flash;
    for (int i = 0; i < ModuleDataLength(module.header); ++i)
        module.data.push_back(std::uint8_t(i * 11 + seed + (i >> 10) * 3));
    return module;
}

// Checks one 1030-byte packet: mark, sequence byte, CRC; returns its data.
Bytes CheckPacket(const Bytes& packet, std::uint8_t sequence)
{
    EXPECT_EQ(packet.size(), std::size_t(kPacketSize));
    if (packet.size() != std::size_t(kPacketSize))
        return {};
    EXPECT_EQ(packet[0], VR520_DATA);
    EXPECT_EQ(packet[1], sequence);
    const std::uint32_t crc = Crc32(packet.data() + 2, kPacketDataSize);
    EXPECT_EQ(packet[1026], std::uint8_t(crc >> 24));
    EXPECT_EQ(packet[1027], std::uint8_t(crc >> 16));
    EXPECT_EQ(packet[1028], std::uint8_t(crc >> 8));
    EXPECT_EQ(packet[1029], std::uint8_t(crc));
    return Bytes(packet.begin() + 2, packet.begin() + 1026);
}

Bytes DataOf(const ReceiverModule& module, int k)
{
    return Bytes(module.data.begin() + (k - 1) * 1024, module.data.begin() + k * 1024);
}

class UploadRoleTest : public ::testing::Test
{
protected:
    void Make(std::vector<ReceiverFault> faults = {}, std::vector<ReceiverModule> memory = {})
    {
        ReceiverOptions options;
        options.role = ReceiverRole::Upload;
        options.nRate = kReceiverNoRate;
        options.faults = std::move(faults);
        options.memory = std::move(memory);
        m_role = std::make_unique<CUploadRole>(options);
        m_role->Start(m_now);
        m_role->TakeActions();
    }
    std::vector<ReceiverAction> FeedActions(const Bytes& bytes)
    {
        m_role->OnReceive(bytes.data(), bytes.size(), m_now);
        return m_role->TakeActions();
    }
    Bytes Feed(const Bytes& bytes) { return SentBytes(FeedActions(bytes)); }
    Bytes Tick(int milliseconds)
    {
        m_now += milliseconds;
        m_role->OnTick(m_now);
        return SentBytes(m_role->TakeActions());
    }
    // Ready, function 0x01 (or `function`), start of the upload: up to the first header request.
    void Connect(std::uint8_t function = FUNC_UPLOAD_DIGITAL)
    {
        ASSERT_EQ(Feed({VR520_READY}), Bytes{VR520_FUNC});
        const auto actions = FeedActions({function});
        ASSERT_EQ(actions.size(), 3u);
        EXPECT_EQ(actions[0].bytes, Bytes{function}); // the function request
        EXPECT_EQ(actions[1].kind, ReceiverAction::Kind::Pause);
        EXPECT_EQ(actions[2].bytes, Bytes{VR520_STARD_UPLOAD});
    }
    static ReceiverFault Fault(const std::string& text)
    {
        ReceiverFault fault;
        std::string error;
        EXPECT_TRUE(ParseReceiverFault(text, fault, error)) << error;
        return fault;
    }

    std::unique_ptr<CUploadRole> m_role;
    std::int64_t m_now = 1000;
};
} // namespace

TEST_F(UploadRoleTest, WholeExchangeWithRetransmissionAndSplitRequests)
{
    const auto eeprom = Module(0x21, 1, 0, 1);
    const auto analog = Module(0x22, 0, 0, 2);
    Make({}, {eeprom, analog});
    Connect(FUNC_UPLOAD_BOTH);

    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{0x21, 1, 0}));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 0x01}), 0x01), DataOf(eeprom, 1));
    // The same number again is a retransmission of the same packet.
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 0x01}), 0x01), DataOf(eeprom, 1));
    // A request split over two reads is one request.
    EXPECT_TRUE(Feed({PACKET_REQUEST}).empty());
    EXPECT_EQ(CheckPacket(Feed({0x02}), LAST_BLOCK), DataOf(eeprom, 2));

    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{0x22, 0, 0}));
    for (int k = 1; k <= 14; ++k)
    {
        SCOPED_TRACE(k);
        const std::uint8_t sequence = k == 14 ? LAST_BLOCK : std::uint8_t(k % 10);
        EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, std::uint8_t(k % 10)}), sequence), DataOf(analog, k));
    }
    EXPECT_FALSE(m_role->IsFinished());
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{0, 0, 0}));
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_TRUE(m_role->Succeeded()) << m_role->ResultText();
    EXPECT_EQ(m_role->PacketsSent(), 17);
}

TEST_F(UploadRoleTest, RequestsThatFitNoPacketAreIgnored)
{
    Make({}, {Module(1, 1, 0, 1)});
    Connect();
    EXPECT_TRUE(Feed({PACKET_REQUEST, 0x01}).empty()) << "no header sent yet";
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{1, 1, 0}));
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{1, 1, 0})) << "asked again before any packet";
    EXPECT_TRUE(Feed({PACKET_REQUEST, 0x05}).empty());
    EXPECT_FALSE(Feed({PACKET_REQUEST, 0x01}).empty());
    EXPECT_TRUE(Feed({HEADER_REQUEST}).empty()) << "header asked in the middle of a module";
    EXPECT_FALSE(Feed({PACKET_REQUEST, 0x02}).empty());
    EXPECT_TRUE(Feed({PACKET_REQUEST, 0x03}).empty()) << "past the module's end";
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{0, 0, 0}));
    EXPECT_TRUE(m_role->Succeeded());
}

TEST_F(UploadRoleTest, SyntheticMemoryPerFunction)
{
    const auto memory = SyntheticMemory();
    ASSERT_EQ(memory.size(), 3u);
    EXPECT_EQ(memory[0].data.size(), 262144u);
    EXPECT_EQ(memory[1].data.size(), 2048u);
    EXPECT_EQ(memory[2].data.size(), 14336u);
    std::set<Bytes> packets;
    for (const auto& module : memory)
        for (std::size_t k = 1; k * 1024 <= module.data.size(); ++k)
            packets.insert(DataOf(module, int(k)));
    EXPECT_EQ(packets.size(), 256u + 2u + 14u) << "every packet's data differs";
    EXPECT_EQ(ModulesForUploadFunction(memory, FUNC_UPLOAD_DIGITAL).size(), 2u);
    EXPECT_EQ(ModulesForUploadFunction(memory, FUNC_UPLOAD_ANALOG).size(), 1u);
    EXPECT_EQ(ModulesForUploadFunction(memory, FUNC_UPLOAD_BOTH).size(), 3u);

    Make();
    Connect();
    ASSERT_EQ(m_role->ServedModules().size(), 2u);
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{1, 1, 1}));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 1}), 1), DataOf(memory[0], 1));
}

TEST_F(UploadRoleTest, FunctionCodeOtherThanUploadIsRefused)
{
    Make();
    Feed({VR520_READY});
    EXPECT_EQ(Feed({FUNC_DIGITAL}), Bytes{0x00});
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_FALSE(m_role->Succeeded());

    Make({Fault("refuse")});
    Feed({VR520_READY});
    EXPECT_EQ(Feed({FUNC_UPLOAD_DIGITAL}), Bytes{0x00});
    EXPECT_FALSE(m_role->Succeeded());
}

TEST_F(UploadRoleTest, StartUploadRepeatedOnlyWhileThePcIsSilent)
{
    Make();
    Connect();
    EXPECT_TRUE(Tick(CReceiverEngine::kAnnounceRetryMs).empty()) << "counted from after the gap";
    EXPECT_EQ(Tick(CReceiverEngine::kMessageGapMs), Bytes{VR520_STARD_UPLOAD});
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{1, 1, 1}));
    EXPECT_TRUE(Tick(CReceiverEngine::kAnnounceRetryMs * 2).empty());
}

TEST_F(UploadRoleTest, CrcDropAndPppFaultsFireOnceAndTheRepeatIsGood)
{
    const auto eeprom = Module(1, 1, 0, 7);
    Make({Fault("crc:2"), Fault("drop:3"), Fault("ppp:4")}, {eeprom, eeprom, eeprom});
    Connect();
    Feed({HEADER_REQUEST});
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 1}), 1), DataOf(eeprom, 1));
    const Bytes bad = Feed({PACKET_REQUEST, 2});
    ASSERT_EQ(bad.size(), std::size_t(kPacketSize));
    EXPECT_EQ(Bytes(bad.begin() + 2, bad.begin() + 1026), DataOf(eeprom, 2));
    EXPECT_NE(ReceiverCrc32(bad.data() + 2, 1024), (std::uint32_t(bad[1026]) << 24 | std::uint32_t(bad[1027]) << 16 |
                                                    std::uint32_t(bad[1028]) << 8 | bad[1029]));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 2}), LAST_BLOCK), DataOf(eeprom, 2));

    // Packet 3 is the first of the second module: its first request gets nothing.
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{1, 1, 0}));
    EXPECT_TRUE(Feed({PACKET_REQUEST, 1}).empty());
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 1}), 1), DataOf(eeprom, 1));
    EXPECT_EQ(Feed({PACKET_REQUEST, 2}), (Bytes{'P', 'P', 'P'}));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 2}), LAST_BLOCK), DataOf(eeprom, 2));
    // Each fault fired once: the third module comes clean.
    Feed({HEADER_REQUEST});
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 1}), 1), DataOf(eeprom, 1));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 2}), LAST_BLOCK), DataOf(eeprom, 2));
    EXPECT_EQ(Feed({HEADER_REQUEST}), (Bytes{0, 0, 0}));
    EXPECT_TRUE(m_role->Succeeded());
}

TEST_F(UploadRoleTest, DuplicateComesBeforeTheNextPacket)
{
    const auto analog = Module(1, 0, 0, 5);
    Make({Fault("dup:2")}, {analog});
    Connect(FUNC_UPLOAD_ANALOG);
    Feed({HEADER_REQUEST});
    Feed({PACKET_REQUEST, 1});
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 2}), 2), DataOf(analog, 2));
    const auto actions = FeedActions({PACKET_REQUEST, 3});
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(CheckPacket(actions[0].bytes, 2), DataOf(analog, 2));
    EXPECT_EQ(actions[1].kind, ReceiverAction::Kind::Pause);
    EXPECT_EQ(CheckPacket(actions[2].bytes, 3), DataOf(analog, 3));
    EXPECT_EQ(CheckPacket(Feed({PACKET_REQUEST, 4}), 4), DataOf(analog, 4)) << "only once";
}

TEST_F(UploadRoleTest, ChunksAndSplitHeaders)
{
    const auto eeprom = Module(9, 1, 0, 3);
    Make({Fault("chunks:100:5"), Fault("split-header")}, {eeprom});
    Connect();
    const auto header = FeedActions({HEADER_REQUEST});
    ASSERT_EQ(header.size(), 3u);
    EXPECT_EQ(header[0].bytes, Bytes{9});
    EXPECT_EQ(header[1].kind, ReceiverAction::Kind::Pause);
    EXPECT_EQ(header[2].bytes, (Bytes{1, 0}));

    const auto packet = FeedActions({PACKET_REQUEST, 1});
    // 1030 bytes: ten chunks of 100 and one of 30, a 5 ms pause between two.
    ASSERT_EQ(packet.size(), 21u);
    for (std::size_t i = 0; i < packet.size(); ++i)
    {
        if (i % 2 == 1)
        {
            EXPECT_EQ(packet[i].kind, ReceiverAction::Kind::Pause);
            EXPECT_EQ(packet[i].nMilliseconds, 5);
        }
        else
        {
            EXPECT_EQ(packet[i].bytes.size(), i == 20 ? 30u : 100u);
        }
    }
    EXPECT_EQ(CheckPacket(SentBytes(packet), 1), DataOf(eeprom, 1));
    // Every packet, not only the first.
    EXPECT_EQ(FeedActions({PACKET_REQUEST, 2}).size(), 21u);
    EXPECT_EQ(FeedActions({HEADER_REQUEST}).size(), 3u) << "the closing header is split too";
}

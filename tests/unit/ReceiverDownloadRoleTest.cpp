// The receiver's download role as scripts of bytes in and actions out.
#include "receiver/DownloadRole.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

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

ReceiverModule FirmwareModule(int length, std::uint8_t seed)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = 0x5A;
    module.header.bytes[31] = 1;
    module.header.setProgramLength(std::uint32_t(length));
    for (int i = 0; i < length; ++i)
        module.data.push_back(std::uint8_t(i * 7 + seed + (i >> 10)));
    return module;
}

ReceiverModule KindModule(std::uint8_t digital, std::uint8_t flash, std::uint8_t seed)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = 0x33;
    module.header.bytes[32] = digital;
    module.header.bytes[33] = flash;
    for (int i = 0; i < ModuleDataLength(module.header); ++i)
        module.data.push_back(std::uint8_t(i * 13 + seed + (i >> 10)));
    return module;
}

Bytes ControlMessage(const ModuleHeader& header)
{
    const auto message = BuildControlMessage(header);
    return Bytes(message.begin(), message.end());
}

Bytes EndMessage(ModuleHeader header)
{
    header.bytes[0] = 0;
    return ControlMessage(header);
}

// Packet k of a module as the PC sends it: the last packet is 1024 bytes long
// too, its tail left from the packet before.
Bytes Packet(const ReceiverModule& module, int k, std::uint8_t (&buffer)[kPacketBufferSize])
{
    const int length = int(module.data.size());
    const int packets = std::max(1, (length + 1023) / 1024);
    const int offset = (k - 1) * 1024;
    const int count = std::clamp(length - offset, 0, 1024);
    buffer[0] = VR520_DATA;
    buffer[1] = BlockNumberByte(k, k == packets);
    if (count > 0)
        std::memcpy(buffer + 2, module.data.data() + offset, std::size_t(count));
    const auto packet = BuildDataPacket(buffer);
    return Bytes(packet.begin(), packet.end());
}

ReceiverOptions NoRate()
{
    ReceiverOptions options;
    options.nRate = kReceiverNoRate;
    return options;
}

class DownloadRoleTest : public ::testing::Test
{
protected:
    void Make(ReceiverOptions options)
    {
        options.role = ReceiverRole::Download;
        m_role = std::make_unique<CDownloadRole>(options);
    }
    std::vector<ReceiverAction> Start()
    {
        m_role->Start(m_now);
        return m_role->TakeActions();
    }
    Bytes Feed(const Bytes& bytes)
    {
        m_role->OnReceive(bytes.data(), bytes.size(), m_now);
        return SentBytes(m_role->TakeActions());
    }
    Bytes Tick(int milliseconds)
    {
        m_now += milliseconds;
        m_role->OnTick(m_now);
        return SentBytes(m_role->TakeActions());
    }
    // Starts without the rate exchange and answers up to the first header request.
    void Connect(std::uint8_t function = FUNC_PROGRAM)
    {
        Start();
        ASSERT_EQ(Feed({VR520_READY}), Bytes{VR520_FUNC});
        ASSERT_EQ(Feed({function}), (Bytes{CDownloadRole::kFunctionReply, VR520_HEADER2}));
    }
    // Plays the PC for the rest of the exchange: every request is answered from
    // `modules`, in pieces of `chunk` bytes. Returns the bytes the receiver sent.
    Bytes Serve(const std::vector<ReceiverModule>& modules, std::size_t chunk = 4096)
    {
        Bytes all;
        std::size_t module = 0;
        Bytes pending = {VR520_HEADER2};
        std::uint8_t buffer[kPacketBufferSize] = {};
        for (int guard = 0; guard < 100000 && !pending.empty() && !m_role->IsFinished(); ++guard)
        {
            Bytes answer;
            if (pending[0] == VR520_HEADER2)
            {
                answer = module < modules.size() ? ControlMessage(modules[module].header)
                                                 : EndMessage(modules.back().header);
                m_packet = 1;
                pending.erase(pending.begin());
            }
            else if (pending[0] == VR520_DATA && pending.size() >= 2)
            {
                EXPECT_EQ(pending[1], m_packet % 10);
                answer = Packet(modules[module], m_packet, buffer);
                if (answer[1] == LAST_BLOCK)
                    ++module;
                ++m_packet;
                pending.erase(pending.begin(), pending.begin() + 2);
            }
            else
            {
                ADD_FAILURE() << "unexpected request " << int(pending[0]);
                break;
            }
            for (std::size_t at = 0; at < answer.size(); at += chunk)
            {
                const Bytes piece(answer.begin() + std::ptrdiff_t(at),
                                  answer.begin() + std::ptrdiff_t(std::min(answer.size(), at + chunk)));
                const Bytes sent = Feed(piece);
                all.insert(all.end(), sent.begin(), sent.end());
                pending.insert(pending.end(), sent.begin(), sent.end());
            }
        }
        return all;
    }

    std::unique_ptr<CDownloadRole> m_role;
    std::int64_t m_now = 5000;
    int m_packet = 1;
};
} // namespace

TEST_F(DownloadRoleTest, WholeExchangeAtFiftySevenSixByteByByte)
{
    ReceiverOptions options;
    options.nRate = 57600;
    Make(options);
    const auto start = Start();
    ASSERT_EQ(SentBytes(start), Bytes{VR520_RATE});

    m_role->OnReceive(Bytes{0x04}.data(), 1, m_now);
    const auto afterRate = m_role->TakeActions();
    ASSERT_EQ(afterRate.size(), 3u);
    EXPECT_EQ(afterRate[0].kind, ReceiverAction::Kind::Pause);
    EXPECT_EQ(afterRate[0].nMilliseconds, CReceiverEngine::kRateSwitchPauseMs);
    EXPECT_EQ(afterRate[1].kind, ReceiverAction::Kind::SetRate);
    EXPECT_EQ(afterRate[1].nBaudRate, 57600);
    EXPECT_EQ(afterRate[2].bytes, Bytes{VR520_READY});
    EXPECT_EQ(m_role->BaudRate(), 57600);

    EXPECT_EQ(Feed({VR520_READY}), Bytes{VR520_FUNC});
    m_role->OnReceive(Bytes{FUNC_PROGRAM}.data(), 1, m_now);
    const auto afterFunction = m_role->TakeActions();
    // The reply and the header request must reach the PC apart.
    ASSERT_EQ(afterFunction.size(), 3u);
    EXPECT_EQ(afterFunction[0].bytes, Bytes{CDownloadRole::kFunctionReply});
    EXPECT_EQ(afterFunction[1].kind, ReceiverAction::Kind::Pause);
    EXPECT_EQ(afterFunction[2].bytes, Bytes{VR520_HEADER2});
    EXPECT_EQ(m_role->FunctionCode(), FUNC_PROGRAM);

    const auto module = FirmwareModule(2500, 3);
    std::uint8_t buffer[kPacketBufferSize] = {};
    EXPECT_EQ(Feed(ControlMessage(module.header)), (Bytes{VR520_DATA, 0x01}));
    EXPECT_EQ(Feed(Packet(module, 1, buffer)), (Bytes{VR520_DATA, 0x02}));
    EXPECT_EQ(Feed(Packet(module, 2, buffer)), (Bytes{VR520_DATA, 0x03}));
    const Bytes last = Packet(module, 3, buffer);
    EXPECT_EQ(last[1], LAST_BLOCK);
    EXPECT_EQ(Feed(last), Bytes{VR520_HEADER2});
    EXPECT_FALSE(m_role->IsFinished());
    EXPECT_TRUE(Feed(EndMessage(module.header)).empty());

    ASSERT_TRUE(m_role->IsFinished());
    EXPECT_TRUE(m_role->Succeeded()) << m_role->ResultText();
    ASSERT_EQ(m_role->ReceivedModules().size(), 1u);
    // Only the module's 2500 bytes are kept, not the whole last packet.
    EXPECT_EQ(m_role->ReceivedModules()[0].data, module.data);
    EXPECT_EQ(std::memcmp(m_role->ReceivedModules()[0].header.bytes, module.header.bytes, kModuleHeaderSize), 0);
}

TEST_F(DownloadRoleTest, SeveralModulesInAnyChunkingGiveTheSameBin)
{
    const std::vector<ReceiverModule> modules = {KindModule(1, 0, 1), KindModule(0, 0, 2), FirmwareModule(1500, 3),
                                                 FirmwareModule(0, 4), FirmwareModule(11 * 1024, 5)};
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(100), std::size_t(4096)})
    {
        SCOPED_TRACE(chunk);
        Make(NoRate());
        m_packet = 1;
        Connect(FUNC_DIGITAL_ANALOG);
        const Bytes sent = Serve(modules, chunk);
        ASSERT_TRUE(m_role->Succeeded()) << m_role->ResultText();
        EXPECT_EQ(BuildBinImage(m_role->ReceivedModules()), BuildBinImage(modules));
        // Packet 10 of the analog module is asked for with block number 0x00.
        const Bytes request10 = {VR520_DATA, 0x09, VR520_DATA, 0x00, VR520_DATA, 0x01};
        EXPECT_NE(std::search(sent.begin(), sent.end(), request10.begin(), request10.end()), sent.end());
    }
    // A zero-length firmware module is still one packet, and keeps no data.
    EXPECT_TRUE(m_role->ReceivedModules()[3].data.empty());
}

TEST_F(DownloadRoleTest, RateExchangeChoices)
{
    ReceiverOptions options;
    options.nRate = 115200;
    Make(options);
    Start();
    EXPECT_TRUE(Feed({0x07}).empty()) << "not a rate code: ignored";
    Feed({0x04});
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_FALSE(m_role->Succeeded());
    EXPECT_NE(m_role->ResultText().find("57600"), std::string::npos);

    Make(ReceiverOptions{}); // any rate: follows the PC
    Start();
    EXPECT_EQ(Feed({0x02}), Bytes{VR520_READY});
    EXPECT_EQ(m_role->BaudRate(), 19200);
    EXPECT_TRUE(Feed({0x02}).empty()) << "a second rate code before the echo is ignored";
    EXPECT_EQ(Feed({VR520_READY}), Bytes{VR520_FUNC});

    options.nRate = kReceiverNoRate;
    Make(options);
    EXPECT_EQ(SentBytes(Start()), Bytes{VR520_READY});
}

TEST_F(DownloadRoleTest, AnnouncesAgainUntilThePcAnswersThenGivesUp)
{
    ReceiverOptions options;
    options.nSilenceTimeoutMs = 7000;
    Make(options);
    Start();
    EXPECT_TRUE(Tick(1999).empty());
    EXPECT_EQ(Tick(1), Bytes{VR520_RATE});
    EXPECT_EQ(Tick(2000), Bytes{VR520_RATE});
    Feed({0x01});
    EXPECT_EQ(Tick(CReceiverEngine::kAnnounceRetryMs + CReceiverEngine::kRateSwitchPauseMs), Bytes{VR520_READY});
    EXPECT_FALSE(m_role->IsFinished());
    Tick(7000);
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_FALSE(m_role->Succeeded());
    EXPECT_EQ(m_role->Deadline(), CReceiverEngine::kNoDeadline);
}

TEST_F(DownloadRoleTest, BadPacketsEndWithAStatusReport)
{
    const auto module = FirmwareModule(3000, 9);
    std::uint8_t buffer[kPacketBufferSize] = {};
    struct Case
    {
        const char* name;
        std::function<void(Bytes&)> spoil;
        std::uint8_t letter;
    };
    const std::vector<Case> cases = {
        {"crc byte 0", [](Bytes& p) { p[1026] ^= 0x80; }, 'W'},
        {"crc byte 3", [](Bytes& p) { p[1029] ^= 0x01; }, 'W'},
        {"data", [](Bytes& p) { p[500] ^= 0x10; }, 'W'},
        {"block number", [](Bytes& p) { p[1] = 0x02; }, 'V'},
        {"lead byte", [](Bytes& p) { p[0] = 0x68; }, 'U'},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Make(NoRate());
        Connect();
        Feed(ControlMessage(module.header));
        Bytes packet = Packet(module, 1, buffer);
        c.spoil(packet);
        EXPECT_EQ(Feed(packet), (Bytes{VR520_STATUS, c.letter}));
        EXPECT_TRUE(m_role->IsFinished());
        EXPECT_FALSE(m_role->Succeeded());
        EXPECT_TRUE(Feed(packet).empty()) << "nothing after the end";
    }

    // The last packet must carry 0xEE.
    Make(NoRate());
    Connect();
    Feed(ControlMessage(FirmwareModule(1024, 1).header));
    Bytes last = Packet(FirmwareModule(1024, 1), 1, buffer);
    last[1] = 0x01;
    const auto fixed = BuildDataPacket(last.data());
    EXPECT_EQ(Feed(Bytes(fixed.begin(), fixed.end())), (Bytes{VR520_STATUS, 'V'}));

    // A control message whose fill is not 0xFF.
    Make(NoRate());
    Connect();
    Bytes message = ControlMessage(module.header);
    message[63] = 0;
    EXPECT_EQ(Feed(message), (Bytes{VR520_STATUS, 'T'}));

    // A firmware length beyond any receiver's memory.
    Make(NoRate());
    Connect();
    EXPECT_EQ(Feed(ControlMessage(FirmwareModule(0, 0).header)), (Bytes{VR520_DATA, 1}));
    Make(NoRate());
    Connect();
    auto huge = FirmwareModule(0, 0).header;
    huge.setProgramLength(0x7FFFFFFF);
    EXPECT_EQ(Feed(ControlMessage(huge)), (Bytes{VR520_STATUS, 'T'}));
}

TEST_F(DownloadRoleTest, SilenceAfterARequestAsksAgainButAHalfPacketFails)
{
    const auto module = FirmwareModule(3000, 2);
    std::uint8_t buffer[kPacketBufferSize] = {};
    Make(NoRate());
    Connect();
    // Counted from the end of the gap between the reply and the header request.
    EXPECT_TRUE(Tick(CDownloadRole::kRequestRetryMs).empty());
    EXPECT_EQ(Tick(CReceiverEngine::kMessageGapMs), Bytes{VR520_HEADER2});
    Feed(ControlMessage(module.header));
    EXPECT_EQ(Tick(CDownloadRole::kRequestRetryMs), (Bytes{VR520_DATA, 0x01}));
    const Bytes packet = Packet(module, 1, buffer);
    EXPECT_TRUE(Feed(Bytes(packet.begin(), packet.begin() + 600)).empty());
    EXPECT_EQ(Tick(CDownloadRole::kRequestRetryMs), (Bytes{VR520_STATUS, 'Z'}));
    EXPECT_FALSE(m_role->Succeeded());
}

TEST_F(DownloadRoleTest, StatusAndRestartFaults)
{
    const auto module = FirmwareModule(3 * 1024, 6);
    std::uint8_t buffer[kPacketBufferSize] = {};
    ReceiverOptions options = NoRate();
    ReceiverFault fault;
    std::string error;
    ASSERT_TRUE(ParseReceiverFault("status:2:T", fault, error));
    options.faults = {fault};
    Make(options);
    Connect();
    Feed(ControlMessage(module.header));
    EXPECT_EQ(Feed(Packet(module, 1, buffer)), (Bytes{VR520_STATUS, 'T'}));
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_FALSE(m_role->Succeeded());

    ASSERT_TRUE(ParseReceiverFault("restart:3", fault, error));
    options.faults = {fault};
    Make(options);
    Connect();
    Feed(ControlMessage(module.header));
    Feed(Packet(module, 1, buffer));
    EXPECT_EQ(Feed(Packet(module, 2, buffer)), Bytes{VR520_READY});
    // The PC echoes and sends the image from its start; the restart fires once.
    EXPECT_EQ(Feed({VR520_READY}), Bytes{VR520_FUNC});
    EXPECT_EQ(Feed({FUNC_PROGRAM}), (Bytes{CDownloadRole::kFunctionReply, VR520_HEADER2}));
    m_packet = 1;
    Serve({module});
    ASSERT_TRUE(m_role->Succeeded()) << m_role->ResultText();
    ASSERT_EQ(m_role->ReceivedModules().size(), 1u);
    EXPECT_EQ(m_role->ReceivedModules()[0].data, module.data);
}

TEST_F(DownloadRoleTest, WrongBlockNumberRequests)
{
    const auto module = FirmwareModule(2 * 1024, 8);
    std::uint8_t buffer[kPacketBufferSize] = {};
    ReceiverOptions options = NoRate();
    ReceiverFault fault;
    std::string error;
    ASSERT_TRUE(ParseReceiverFault("badblock:1", fault, error));
    options.faults = {fault};
    Make(options);
    Connect();
    // More than one packet left: the PC sends nothing and the right request follows.
    EXPECT_EQ(Feed(ControlMessage(module.header)), (Bytes{VR520_DATA, 0x06}));
    EXPECT_TRUE(Tick(CDownloadRole::kBadBlockWaitMs - 1).empty());
    EXPECT_EQ(Tick(1), (Bytes{VR520_DATA, 0x01}));
    EXPECT_EQ(Feed(Packet(module, 1, buffer)), (Bytes{VR520_DATA, 0x02}));

    // A PC that answers the wrong number while more than one packet is left is wrong.
    Make(options);
    Connect();
    EXPECT_EQ(Feed(ControlMessage(module.header)), (Bytes{VR520_DATA, 0x06}));
    EXPECT_EQ(Feed(Packet(module, 1, buffer)), (Bytes{VR520_STATUS, 'V'}));

    // One packet left: the PC answers the wrong number with the last packet.
    ASSERT_TRUE(ParseReceiverFault("badblock:2", fault, error));
    options.faults = {fault};
    Make(options);
    Connect();
    Feed(ControlMessage(module.header));
    EXPECT_EQ(Feed(Packet(module, 1, buffer)), (Bytes{VR520_DATA, 0x07}));
    EXPECT_EQ(Feed(Packet(module, 2, buffer)), Bytes{VR520_HEADER2});
    Feed(EndMessage(module.header));
    ASSERT_TRUE(m_role->Succeeded()) << m_role->ResultText();
    EXPECT_EQ(m_role->ReceivedModules()[0].data, module.data);
}

TEST_F(DownloadRoleTest, FunctionCodesAndRefusal)
{
    Make(NoRate());
    Start();
    Feed({VR520_READY});
    EXPECT_EQ(Feed({FUNC_UPLOAD_DIGITAL}), Bytes{0x00}) << "an upload code is refused";
    EXPECT_FALSE(m_role->Succeeded());

    ReceiverOptions options = NoRate();
    options.faults = {ReceiverFault{ReceiverFaultKind::Refuse}};
    Make(options);
    Start();
    Feed({VR520_READY});
    EXPECT_EQ(Feed({FUNC_DIGITAL}), Bytes{0x00});
    EXPECT_TRUE(m_role->IsFinished());
    EXPECT_FALSE(m_role->Succeeded());
}

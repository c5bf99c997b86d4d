#include "receiver/DownloadRole.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

CDownloadRole::CDownloadRole(const ReceiverOptions& options) : CReceiverEngine(options)
{
}

void CDownloadRole::OnLinkUp()
{
    // Also after a restart: what came before is dropped, the PC sends the image anew.
    m_modules.clear();
    m_current = ReceiverModule{};
    m_nTransferPacket = 0;
    m_functionCode = 0;
    Log("asking for the function (0xD0)");
    Send({VR520_FUNC});
    m_state = State::WaitFunctionCode;
}

void CDownloadRole::OnRoleByte(std::uint8_t byte)
{
    switch (m_state)
    {
    case State::WaitFunctionCode:
        if (byte != FUNC_PROGRAM && byte != FUNC_DIGITAL && byte != FUNC_ANALOG && byte != FUNC_DIGITAL_ANALOG)
        {
            Send({0x00});
            Finish(false, "the PC sent function code " + HexBytes(&byte, 1) +
                              ", not a download function (0x07, 0x04, 0x05 or 0x06); refused");
            return;
        }
        m_functionCode = byte;
        if (Faults().Fire(ReceiverFaultKind::Refuse, 0))
        {
            Send({0x00});
            Finish(false, "refused the function " + HexBytes(&byte, 1) + " (fault)");
            return;
        }
        Log("function " + HexBytes(&byte, 1) + ": replying");
        Send({kFunctionReply});
        // The PC looks only at the first byte of what it reads at once: the header
        // request must not arrive together with the reply.
        Pause(kMessageGapMs);
        RequestHeader();
        return;
    case State::WaitControlMessage:
        m_message[std::size_t(m_nCollected++)] = byte;
        if (m_nCollected == kHeaderBlockSize)
            OnControlMessage();
        return;
    case State::WaitPacket:
        m_packet[std::size_t(m_nCollected++)] = byte;
        if (m_nCollected == kPacketSize)
            OnPacket();
        return;
    case State::Done:
        return;
    }
}

void CDownloadRole::RequestHeader()
{
    Send({VR520_HEADER2});
    m_state = State::WaitControlMessage;
    m_nCollected = 0;
    ArmTimer(kRequestRetryMs);
}

void CDownloadRole::OnControlMessage()
{
    DisarmTimer();
    for (int i = kModuleHeaderSize; i < kHeaderBlockSize; ++i)
    {
        if (m_message[std::size_t(i)] != 0xFF)
        {
            FailWithStatus('T', "control message byte " + std::to_string(i) + " is " +
                                    HexBytes(&m_message[std::size_t(i)], 1) + ", not the fill byte 0xFF");
            return;
        }
    }
    std::memcpy(m_current.header.bytes, m_message.data(), kModuleHeaderSize);
    if (m_message[0] == 0)
    {
        m_state = State::Done;
        StoreCorruptedBytes();
        std::size_t total = 0;
        for (const auto& module : m_modules)
            total += module.data.size();
        Finish(true, "image received: " + std::to_string(m_modules.size()) + " module(s), " +
                         std::to_string(total) + " data bytes");
        return;
    }
    if (m_current.header.firmware() != 0 && m_current.header.programLength() > kMaxProgramLength)
    {
        FailWithStatus('T', "firmware module of " + std::to_string(m_current.header.programLength()) +
                                " bytes claimed; more than the receiver holds");
        return;
    }
    m_nModuleLength = ModuleDataLength(m_current.header);
    m_nPacketsInModule = std::max(1, (m_nModuleLength + kPacketDataSize - 1) / kPacketDataSize);
    m_current.data.clear();
    m_current.data.reserve(std::size_t(m_nModuleLength));
    Log("module " + std::to_string(m_modules.size() + 1) + ": " + std::to_string(m_nModuleLength) + " bytes in " +
        std::to_string(m_nPacketsInModule) + " packet(s)");
    m_nPacket = 1;
    RequestPacket();
}

void CDownloadRole::RequestPacket()
{
    ++m_nTransferPacket;
    m_bWrongBlockAsked = false;
    ReceiverFault fault;
    if (Faults().Fire(ReceiverFaultKind::Status, m_nTransferPacket, &fault))
    {
        Log("fault: status report 'P','" + std::string(1, fault.letter) + "' instead of packet " +
            std::to_string(m_nTransferPacket));
        Send({VR520_STATUS, std::uint8_t(fault.letter)});
        m_state = State::Done;
        Finish(false, "sent the status report 'P','" + std::string(1, fault.letter) + "' at packet " +
                          std::to_string(m_nTransferPacket) + " (fault)");
        return;
    }
    if (Faults().Fire(ReceiverFaultKind::Restart, m_nTransferPacket))
    {
        Log("fault: restart (0xCD) instead of packet " + std::to_string(m_nTransferPacket));
        m_state = State::Done;
        AnnounceReady();
        return;
    }
    const std::uint8_t blockByte = std::uint8_t(m_nPacket % 10);
    if (Faults().Fire(ReceiverFaultKind::BadBlock, m_nTransferPacket))
    {
        const std::uint8_t wrong = std::uint8_t((blockByte + 5) % 10);
        Log("fault: asking for packet " + std::to_string(m_nTransferPacket) + " with block number " +
            std::to_string(wrong));
        SendRequest(wrong);
        m_bWrongBlockAsked = true;
        ArmTimer(kBadBlockWaitMs);
        return;
    }
    SendRequest(blockByte);
}

void CDownloadRole::SendRequest(std::uint8_t blockByte)
{
    Send({VR520_DATA, blockByte});
    m_state = State::WaitPacket;
    m_nCollected = 0;
    ArmTimer(kRequestRetryMs);
}

void CDownloadRole::OnRoleTimer()
{
    if (m_state == State::WaitControlMessage)
    {
        if (m_nCollected != 0)
        {
            FailWithStatus('Y', "control message incomplete: " + std::to_string(m_nCollected) + " of 64 bytes came");
            return;
        }
        Log("no header yet: asking again (0x70)");
        RequestHeader();
        return;
    }
    if (m_state == State::WaitPacket)
    {
        if (m_nCollected != 0)
        {
            FailWithStatus('Z', "packet " + std::to_string(m_nTransferPacket) + " incomplete: " +
                                    std::to_string(m_nCollected) + " of 1030 bytes came");
            return;
        }
        if (m_bWrongBlockAsked)
            Log("the PC ignored the wrong block number: asking for packet " + std::to_string(m_nTransferPacket) +
                " properly");
        else
            Log("no packet yet: asking again for packet " + std::to_string(m_nTransferPacket));
        m_bWrongBlockAsked = false;
        SendRequest(std::uint8_t(m_nPacket % 10));
    }
}

void CDownloadRole::OnPacket()
{
    DisarmTimer();
    const std::string which = "packet " + std::to_string(m_nTransferPacket);
    if (m_packet[0] != VR520_DATA)
    {
        FailWithStatus('U', which + " begins with " + HexBytes(m_packet.data(), 1) + ", not 0x69");
        return;
    }
    const std::uint32_t crc = ReceiverCrc32(m_packet.data() + 2, kPacketDataSize);
    const std::uint32_t sent = (std::uint32_t(m_packet[1026]) << 24) | (std::uint32_t(m_packet[1027]) << 16) |
                               (std::uint32_t(m_packet[1028]) << 8) | std::uint32_t(m_packet[1029]);
    if (crc != sent)
    {
        char text[80];
        std::snprintf(text, sizeof text, ": CRC 0x%08x sent, 0x%08x computed", sent, crc);
        FailWithStatus('W', which + text);
        return;
    }
    if (m_bWrongBlockAsked && !IsLastPacket())
    {
        // With more than one packet left the PC must not answer a wrong number.
        FailWithStatus('V', which + " came for a request with a wrong block number");
        return;
    }
    const std::uint8_t expected = IsLastPacket() ? LAST_BLOCK : std::uint8_t(m_nPacket % 10);
    if (m_packet[1] != expected)
    {
        FailWithStatus('V', which + " carries block number " + HexBytes(&m_packet[1], 1) + ", expected " +
                                HexBytes(&expected, 1));
        return;
    }
    // The last packet is always 1024 bytes long; only the module's length is kept.
    const int offset = (m_nPacket - 1) * kPacketDataSize;
    const int keep = std::clamp(m_nModuleLength - offset, 0, kPacketDataSize);
    m_current.data.insert(m_current.data.end(), m_packet.begin() + 2, m_packet.begin() + 2 + keep);
    if (m_bWrongBlockAsked)
        Log("the PC answered the wrong block number with the module's last packet");
    if (!IsLastPacket())
    {
        ++m_nPacket;
        RequestPacket();
        return;
    }
    Log("module " + std::to_string(m_modules.size() + 1) + " complete");
    m_modules.push_back(std::move(m_current));
    m_current = ReceiverModule{};
    RequestHeader();
}

void CDownloadRole::StoreCorruptedBytes()
{
    for (std::size_t i = 0; i < m_modules.size(); ++i)
    {
        const int nModule = int(i + 1);
        std::vector<std::uint8_t>& data = m_modules[i].data;
        ReceiverFault fault;
        while (Faults().Fire(ReceiverFaultKind::Corrupt, nModule, &fault))
        {
            const std::string which = "byte " + std::to_string(fault.nByteOffset) + " of module " +
                                      std::to_string(nModule);
            if (std::size_t(fault.nByteOffset) >= data.size())
            {
                Log("fault: module " + std::to_string(nModule) + " holds " + std::to_string(data.size()) +
                    " bytes, no " + which + " to change");
                continue;
            }
            std::uint8_t& byte = data[std::size_t(fault.nByteOffset)];
            const std::uint8_t before = byte;
            byte = std::uint8_t(~byte);
            Log("fault: " + which + " stored as " + HexBytes(&byte, 1) + " instead of " + HexBytes(&before, 1));
        }
    }
}

void CDownloadRole::FailWithStatus(char letter, const std::string& text)
{
    Send({VR520_STATUS, std::uint8_t(letter)});
    m_state = State::Done;
    Finish(false, text + " (reported with 'P','" + std::string(1, letter) + "')");
}

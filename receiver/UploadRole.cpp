#include "receiver/UploadRole.h"

#include <array>
#include <cstring>

namespace
{
constexpr std::uint8_t kErrorReport[] = {VR520_STATUS, VR520_STATUS, VR520_STATUS};
} // namespace

CUploadRole::CUploadRole(const ReceiverOptions& options)
    : CReceiverEngine(options), m_memory(options.memory.empty() ? SyntheticMemory() : options.memory)
{
}

void CUploadRole::OnLinkUp()
{
    Log("asking for the function (0xD0)");
    Send({VR520_FUNC});
    m_state = State::WaitFunctionCode;
}

void CUploadRole::OnRoleByte(std::uint8_t byte)
{
    m_bHeardSinceStart = true;
    switch (m_state)
    {
    case State::WaitFunctionCode:
        OnFunctionCode(byte);
        return;
    case State::WaitStartAck:
    case State::Serving:
        // Requests are read from the byte stream, so one split across two reads
        // (0x69, then its block number) is the same request.
        if (m_bRequestStarted)
        {
            m_bRequestStarted = false;
            OnPacketRequest(byte);
        }
        else if (byte == PACKET_REQUEST && m_state == State::Serving)
            m_bRequestStarted = true;
        else if (byte == HEADER_REQUEST)
            OnHeaderRequest();
        else
            Log("ignored: " + HexBytes(&byte, 1));
        return;
    case State::Done:
        return;
    }
}

void CUploadRole::OnFunctionCode(std::uint8_t code)
{
    if (code != FUNC_UPLOAD_DIGITAL && code != FUNC_UPLOAD_ANALOG && code != FUNC_UPLOAD_BOTH)
    {
        Send({0x00});
        m_state = State::Done;
        Finish(false, "the PC sent function code " + HexBytes(&code, 1) +
                          ", not an upload function (0x01, 0x02 or 0x03); refused");
        return;
    }
    if (Faults().Fire(ReceiverFaultKind::Refuse, 0))
    {
        Send({0x00});
        m_state = State::Done;
        Finish(false, "refused the function " + HexBytes(&code, 1) + " (fault)");
        return;
    }
    m_modules = ModulesForUploadFunction(m_memory, code);
    Log("function " + HexBytes(&code, 1) + ": " + std::to_string(m_modules.size()) + " module(s) to send");
    // The function request, then the start of the upload: the PC must read them apart.
    Send({code});
    Pause(kMessageGapMs);
    Send({VR520_STARD_UPLOAD});
    m_state = State::WaitStartAck;
    m_bHeardSinceStart = false;
    ArmTimer(kAnnounceRetryMs);
}

void CUploadRole::OnRoleTimer()
{
    if (m_state == State::WaitStartAck && !m_bHeardSinceStart)
    {
        Log("no header request yet: start upload again (0xD1)");
        Send({VR520_STARD_UPLOAD});
        ArmTimer(kAnnounceRetryMs);
    }
}

int CUploadRole::PacketsIn(int nModule) const
{
    const auto length = int(m_modules[std::size_t(nModule)].data.size());
    return std::max(1, (length + kPacketDataSize - 1) / kPacketDataSize);
}

int CUploadRole::TransferOrdinal(int nPacket) const
{
    return m_nPacketsBefore + nPacket;
}

void CUploadRole::OnHeaderRequest()
{
    DisarmTimer();
    if (m_state == State::WaitStartAck)
    {
        m_state = State::Serving;
    }
    else if (m_nModule >= 0 && m_nLastSent == 0)
    {
        Log("header requested again");
        const auto& header = m_modules[std::size_t(m_nModule)].header;
        SendHeader(header.bytes[0] ? header.bytes[0] : 1, header.digital(), header.flash());
        return;
    }
    else if (m_nModule >= 0 && m_nLastSent < PacketsIn(m_nModule))
    {
        Log("header requested in the middle of module " + std::to_string(m_nModule + 1) + ": ignored");
        return;
    }
    if (m_nModule >= 0)
        m_nPacketsBefore += PacketsIn(m_nModule);
    ++m_nModule;
    m_nLastSent = 0;
    m_nDuplicate = 0;
    if (m_nModule >= int(m_modules.size()))
    {
        Log("no module left: closing header");
        SendHeader(0, 0, 0);
        m_state = State::Done;
        Finish(true, "memory sent: " + std::to_string(m_modules.size()) + " module(s), " +
                         std::to_string(m_nPacketsSent) + " packet(s)");
        return;
    }
    const auto& header = m_modules[std::size_t(m_nModule)].header;
    Log("module " + std::to_string(m_nModule + 1) + ": header (digital " + std::to_string(header.digital()) +
        ", flash " + std::to_string(header.flash()) + "), " + std::to_string(PacketsIn(m_nModule)) + " packet(s)");
    SendHeader(header.bytes[0] ? header.bytes[0] : 1, header.digital(), header.flash());
}

void CUploadRole::SendHeader(std::uint8_t lead, std::uint8_t digital, std::uint8_t flash)
{
    if (Faults().Find(ReceiverFaultKind::SplitHeader))
    {
        Send({lead});
        Pause(kMessageGapMs);
        Send({digital, flash});
        return;
    }
    Send({lead, digital, flash});
}

void CUploadRole::OnPacketRequest(std::uint8_t blockByte)
{
    if (m_nModule < 0 || m_nModule >= int(m_modules.size()))
    {
        Log("packet requested (block " + std::to_string(blockByte) + ") with no module open: ignored");
        return;
    }
    const int packets = PacketsIn(m_nModule);
    if (m_nLastSent < packets && blockByte == (m_nLastSent + 1) % 10)
    {
        const int next = m_nLastSent + 1;
        if (m_nDuplicate != 0)
        {
            // A slow receiver that answered a request and its repeat: the old
            // packet once more, then the one asked for.
            Log("fault: packet " + std::to_string(TransferOrdinal(m_nDuplicate)) + " sent twice");
            SendPacket(m_nDuplicate, false);
            Pause(kMessageGapMs);
            m_nDuplicate = 0;
        }
        SendPacket(next, true);
        return;
    }
    if (m_nLastSent >= 1 && blockByte == m_nLastSent % 10)
    {
        Log("packet " + std::to_string(TransferOrdinal(m_nLastSent)) + " requested again");
        m_nDuplicate = 0;
        SendPacket(m_nLastSent, false);
        return;
    }
    Log("request for block number " + std::to_string(blockByte) + " fits neither packet " +
        std::to_string(m_nLastSent) + " nor the next of module " + std::to_string(m_nModule + 1) + ": ignored");
}

void CUploadRole::SendPacket(int nPacket, bool bFirstTime)
{
    const int ordinal = TransferOrdinal(nPacket);
    const bool bLast = nPacket == PacketsIn(m_nModule);
    if (bFirstTime)
    {
        if (Faults().Fire(ReceiverFaultKind::Drop, ordinal))
        {
            Log("fault: packet " + std::to_string(ordinal) + " not sent");
            return;
        }
        if (Faults().Fire(ReceiverFaultKind::Ppp, ordinal))
        {
            Log("fault: error report \"PPP\" instead of packet " + std::to_string(ordinal));
            Send(kErrorReport, sizeof kErrorReport);
            return;
        }
    }
    const auto& data = m_modules[std::size_t(m_nModule)].data;
    std::array<std::uint8_t, kPacketSize> packet;
    packet[0] = VR520_DATA;
    packet[1] = bLast ? LAST_BLOCK : std::uint8_t(nPacket % 10);
    const std::size_t offset = std::size_t(nPacket - 1) * kPacketDataSize;
    const std::size_t available = offset < data.size() ? std::min<std::size_t>(data.size() - offset, kPacketDataSize) : 0;
    if (available > 0)
        std::memcpy(packet.data() + 2, data.data() + offset, available);
    std::memset(packet.data() + 2 + available, 0xFF, kPacketDataSize - available);
    std::uint32_t crc = ReceiverCrc32(packet.data() + 2, kPacketDataSize);
    if (bFirstTime && Faults().Fire(ReceiverFaultKind::Crc, ordinal))
    {
        Log("fault: packet " + std::to_string(ordinal) + " with a wrong CRC");
        crc ^= 0x5A;
    }
    packet[1026] = std::uint8_t(crc >> 24);
    packet[1027] = std::uint8_t(crc >> 16);
    packet[1028] = std::uint8_t(crc >> 8);
    packet[1029] = std::uint8_t(crc);

    const ReceiverFault* chunks = Faults().Find(ReceiverFaultKind::Chunks);
    if (chunks)
    {
        for (int sent = 0; sent < kPacketSize; sent += chunks->nChunkBytes)
        {
            if (sent > 0)
                Pause(chunks->nChunkPauseMs);
            Send(packet.data() + sent, std::size_t(std::min(chunks->nChunkBytes, kPacketSize - sent)), true);
        }
    }
    else
    {
        Send(packet.data(), packet.size());
    }
    ++m_nPacketsSent;
    if (bFirstTime)
    {
        m_nLastSent = nPacket;
        if (!bLast && Faults().Fire(ReceiverFaultKind::Duplicate, ordinal))
            m_nDuplicate = nPacket;
    }
}

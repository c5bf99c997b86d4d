// The receiver's side of an upload: it asks for the function, confirms it, starts
// the upload (0xD1) and then answers the PC's requests: a 3-byte module header
// for each 0x70 (lead byte, digital, flash; three zeros once no module is left)
// and a 1030-byte packet for each 0x69 + block number, the same packet again when
// the PC asks for it again.
#pragma once

#include "receiver/ReceiverEngine.h"

class CUploadRole : public CReceiverEngine
{
public:
    explicit CUploadRole(const ReceiverOptions& options);

    // The modules being served (after the function code chose them).
    const std::vector<ReceiverModule>& ServedModules() const { return m_modules; }
    // Packets sent, retransmissions and duplicates included.
    int PacketsSent() const { return m_nPacketsSent; }

protected:
    void OnLinkUp() override;
    void OnRoleByte(std::uint8_t byte) override;
    void OnRoleTimer() override;

private:
    enum class State
    {
        WaitFunctionCode,
        WaitStartAck, // 0xD1 sent, waiting for the first header request
        Serving,
        Done,
    };
    void OnFunctionCode(std::uint8_t code);
    void OnHeaderRequest();
    void OnPacketRequest(std::uint8_t blockByte);
    void SendHeader(std::uint8_t lead, std::uint8_t digital, std::uint8_t flash);
    void SendPacket(int nPacket, bool bFirstTime);
    int PacketsIn(int nModule) const;
    int TransferOrdinal(int nPacket) const;

    State m_state = State::WaitFunctionCode;
    std::vector<ReceiverModule> m_memory;
    std::vector<ReceiverModule> m_modules;
    int m_nModule = -1;          // module whose header was sent last
    int m_nLastSent = 0;         // its last packet sent, 0 right after its header
    int m_nPacketsBefore = 0;    // packets of the modules before it
    int m_nDuplicate = 0;        // packet to send again before the next one (0: none)
    int m_nPacketsSent = 0;
    bool m_bRequestStarted = false; // 0x69 came; its block number is the next byte
    bool m_bHeardSinceStart = false;
};

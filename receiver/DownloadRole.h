// The receiver's side of a download: it asks for the function, then for every
// module header and every packet in turn, checks each packet's CRC-32 and block
// number, and keeps what it received. An end message (a header whose lead byte
// is 0) completes the image. A packet it cannot accept ends the session with a
// status report to the PC, as a receiver would, so that the PC does not wait on.
// A corrupt fault changes one byte of what it keeps, as a memory that took a
// byte wrongly would, so that a check of the memory against the image can fail.
#pragma once

#include "receiver/ReceiverEngine.h"

#include <array>

class CDownloadRole : public CReceiverEngine
{
public:
    // The byte that answers the function code (any but 0x00, 0xDC, 0xCD).
    static constexpr std::uint8_t kFunctionReply = 0x01;
    // A header or packet request that brought nothing at all is repeated after this.
    static constexpr int kRequestRetryMs = 5000;
    // After a request with a wrong block number the PC answers only when one packet
    // is left; otherwise the right request follows after this wait.
    static constexpr int kBadBlockWaitMs = 1000;
    // Largest firmware module accepted (a header claiming more is refused).
    static constexpr std::uint32_t kMaxProgramLength = 64u * 1024 * 1024;

    explicit CDownloadRole(const ReceiverOptions& options);

    const std::vector<ReceiverModule>& ReceivedModules() const override { return m_modules; }
    // The function code the PC chose (0 before).
    std::uint8_t FunctionCode() const { return m_functionCode; }

protected:
    void OnLinkUp() override;
    void OnRoleByte(std::uint8_t byte) override;
    void OnRoleTimer() override;

private:
    enum class State
    {
        WaitFunctionCode,
        WaitControlMessage,
        WaitPacket,
        Done,
    };
    void RequestHeader();
    void OnControlMessage();
    void RequestPacket();
    void SendRequest(std::uint8_t blockByte);
    void OnPacket();
    void FailWithStatus(char letter, const std::string& text);
    // The image is complete: the corrupt faults change the bytes they name in what is kept.
    void StoreCorruptedBytes();
    bool IsLastPacket() const { return m_nPacket >= m_nPacketsInModule; }

    State m_state = State::WaitFunctionCode;
    std::uint8_t m_functionCode = 0;
    std::vector<ReceiverModule> m_modules;
    ReceiverModule m_current;
    int m_nModuleLength = 0;
    int m_nPacketsInModule = 0;
    int m_nPacket = 0;           // packet of the current module being asked for, from 1
    int m_nTransferPacket = 0;   // the same counted over the whole transfer
    bool m_bWrongBlockAsked = false;
    std::array<std::uint8_t, kPacketSize> m_packet{};
    std::array<std::uint8_t, kHeaderBlockSize> m_message{};
    int m_nCollected = 0;
};

// The Telnet client side of a network serial line, with the Com Port Control
// option (RFC 2217), written without any I/O: it is fed the bytes read from the
// socket and answers with the data bytes among them, the negotiation replies to
// send back and the events seen (option accepted or refused, a server's answer
// to a line setting). Commands and subnegotiations may be split across feeds at
// any byte. The caller sends data through AppendEscaped, which doubles 0xFF.
//
// Options: binary both ways, the Com Port option from us to the server, and
// suppress-go-ahead from either side are accepted; every other request is
// refused, so a server cannot switch on echo or line mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telnet
{
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kBinaryOption = 0;
constexpr std::uint8_t kSuppressGoAheadOption = 3;
constexpr std::uint8_t kComPortOption = 44;

// Com Port option commands from the client; the server answers with the code + 100.
enum class ComPortCommand : std::uint8_t
{
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
};
constexpr std::uint8_t kServerReplyOffset = 100;
// SET-CONTROL values.
constexpr std::uint8_t kControlNoFlowControl = 1;
constexpr std::uint8_t kControlDtrOn = 8;
constexpr std::uint8_t kControlDtrOff = 9;
constexpr std::uint8_t kControlRtsOn = 11;
constexpr std::uint8_t kControlRtsOff = 12;
// PURGE-DATA value: the server's buffer of bytes received from the line.
constexpr std::uint8_t kPurgeReceived = 1;
} // namespace telnet

class CTelnetCodec
{
public:
    struct Event
    {
        enum class Kind
        {
            ComPortAccepted, // the server agreed to the Com Port option
            ComPortRefused,  // it declined or withdrew it
            ComPortReply,    // the server's answer to a Com Port command, or a notification
        };
        Kind kind = Kind::ComPortReply;
        telnet::ComPortCommand command = telnet::ComPortCommand::SetBaudRate; // ComPortReply only
        std::uint32_t value = 0;      // the rate for SetBaudRate, the byte otherwise
        std::size_t dataBefore = 0;   // Output::data's size when the event was seen
    };
    struct Output
    {
        std::string data;  // line bytes, unescaped
        std::string reply; // to send to the server as is
        std::vector<Event> events;
    };

    // The opening requests: WILL and DO binary, and (withComPort) WILL Com Port.
    std::string Start(bool withComPort);
    // Appends what `length` received bytes amount to.
    void Feed(const void* bytes, std::size_t length, Output& out);
    bool ComPortEnabled() const { return m_local[telnet::kComPortOption].enabled; }

    // Line bytes as they go on the wire: every 0xFF doubled.
    static void AppendEscaped(const void* data, std::size_t length, std::string& out);
    // A Com Port command; SetBaudRate takes a 4-byte rate, the others a byte.
    static std::string ComPortRequest(telnet::ComPortCommand command, std::uint32_t value);

private:
    struct OptionState
    {
        bool enabled = false;
        bool asked = false; // we sent the request and wait for the answer
    };
    void OnNegotiation(std::uint8_t verb, std::uint8_t option, Output& out);
    void OnSubnegotiation(Output& out);
    static bool AcceptsLocal(std::uint8_t option);
    static bool AcceptsRemote(std::uint8_t option);

    enum class State
    {
        Data,
        Iac,
        Verb,
        Sub,
        SubIac,
    };
    // A subnegotiation longer than this is not one we understand; it is dropped.
    static constexpr std::size_t kMaxSubnegotiationBytes = 64;

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::string m_sub;
    bool m_bSubOverflow = false;
    OptionState m_local[256];  // what we do (WILL/WONT from us)
    OptionState m_remote[256]; // what the server does (DO/DONT from us)
};

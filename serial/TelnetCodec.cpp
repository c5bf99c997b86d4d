#include "serial/TelnetCodec.h"

using namespace telnet;

namespace
{
void AppendCommand(std::string& out, std::uint8_t verb, std::uint8_t option)
{
    out += char(kIac);
    out += char(verb);
    out += char(option);
}
} // namespace

std::string CTelnetCodec::Start(bool withComPort)
{
    std::string out;
    AppendCommand(out, kWill, kBinaryOption);
    m_local[kBinaryOption].asked = true;
    AppendCommand(out, kDo, kBinaryOption);
    m_remote[kBinaryOption].asked = true;
    if (withComPort)
    {
        AppendCommand(out, kWill, kComPortOption);
        m_local[kComPortOption].asked = true;
    }
    return out;
}

bool CTelnetCodec::AcceptsLocal(std::uint8_t option)
{
    return option == kBinaryOption || option == kComPortOption || option == kSuppressGoAheadOption;
}

bool CTelnetCodec::AcceptsRemote(std::uint8_t option)
{
    return option == kBinaryOption || option == kSuppressGoAheadOption;
}

void CTelnetCodec::Feed(const void* bytes, std::size_t length, Output& out)
{
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < length; ++i)
    {
        const std::uint8_t byte = in[i];
        switch (m_state)
        {
        case State::Data:
            if (byte == kIac)
                m_state = State::Iac;
            else
                out.data += char(byte);
            break;
        case State::Iac:
            if (byte == kIac)
            {
                out.data += char(kIac);
                m_state = State::Data;
            }
            else if (byte >= kWill) // WILL, WONT, DO, DONT
            {
                m_verb = byte;
                m_state = State::Verb;
            }
            else if (byte == kSb)
            {
                m_sub.clear();
                m_bSubOverflow = false;
                m_state = State::Sub;
            }
            else
            {
                m_state = State::Data; // a two-byte command (NOP, GA, ...): nothing to do
            }
            break;
        case State::Verb:
            OnNegotiation(m_verb, byte, out);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                m_state = State::SubIac;
            else if (m_sub.size() < kMaxSubnegotiationBytes)
                m_sub += char(byte);
            else
                m_bSubOverflow = true;
            break;
        case State::SubIac:
            if (byte == kSe)
            {
                if (!m_bSubOverflow)
                    OnSubnegotiation(out);
                m_state = State::Data;
            }
            else
            {
                // IAC IAC is a 0xFF inside; anything else is malformed and kept as is.
                if (m_sub.size() < kMaxSubnegotiationBytes)
                    m_sub += char(byte);
                else
                    m_bSubOverflow = true;
                m_state = State::Sub;
            }
            break;
        }
    }
}

void CTelnetCodec::OnNegotiation(std::uint8_t verb, std::uint8_t option, Output& out)
{
    // Answers only change of state, so two sides that both ask never loop.
    const bool aboutUs = verb == kDo || verb == kDont;
    OptionState& state = aboutUs ? m_local[option] : m_remote[option];
    const bool positive = verb == kDo || verb == kWill;
    const bool accepted = aboutUs ? AcceptsLocal(option) : AcceptsRemote(option);
    const bool wasAsked = state.asked;
    state.asked = false;
    if (positive)
    {
        if (state.enabled)
            return;
        if (!accepted)
        {
            AppendCommand(out.reply, aboutUs ? kWont : kDont, option);
            return;
        }
        state.enabled = true;
        if (!wasAsked)
            AppendCommand(out.reply, aboutUs ? kWill : kDo, option);
        if (aboutUs && option == kComPortOption)
            out.events.push_back({Event::Kind::ComPortAccepted, {}, 0, out.data.size()});
        return;
    }
    if (!state.enabled && !wasAsked)
        return;
    const bool wasEnabled = state.enabled;
    state.enabled = false;
    if (wasEnabled)
        AppendCommand(out.reply, aboutUs ? kWont : kDont, option);
    if (aboutUs && option == kComPortOption)
        out.events.push_back({Event::Kind::ComPortRefused, {}, 0, out.data.size()});
}

void CTelnetCodec::OnSubnegotiation(Output& out)
{
    if (m_sub.size() < 3 || std::uint8_t(m_sub[0]) != kComPortOption)
        return;
    const std::uint8_t code = std::uint8_t(m_sub[1]);
    if (code <= kServerReplyOffset)
        return; // a command meant for a server
    Event event;
    event.kind = Event::Kind::ComPortReply;
    event.command = ComPortCommand(code - kServerReplyOffset);
    event.dataBefore = out.data.size();
    if (event.command == ComPortCommand::SetBaudRate)
    {
        if (m_sub.size() < 6)
            return;
        for (int i = 2; i < 6; ++i)
            event.value = (event.value << 8) | std::uint8_t(m_sub[std::size_t(i)]);
    }
    else
    {
        event.value = std::uint8_t(m_sub[2]);
    }
    out.events.push_back(event);
}

void CTelnetCodec::AppendEscaped(const void* data, std::size_t length, std::string& out)
{
    const auto* in = static_cast<const std::uint8_t*>(data);
    out.reserve(out.size() + length + 8);
    for (std::size_t i = 0; i < length; ++i)
    {
        out += char(in[i]);
        if (in[i] == kIac)
            out += char(kIac);
    }
}

std::string CTelnetCodec::ComPortRequest(ComPortCommand command, std::uint32_t value)
{
    std::uint8_t body[4];
    std::size_t size = 1;
    if (command == ComPortCommand::SetBaudRate)
    {
        body[0] = std::uint8_t(value >> 24);
        body[1] = std::uint8_t(value >> 16);
        body[2] = std::uint8_t(value >> 8);
        body[3] = std::uint8_t(value);
        size = 4;
    }
    else
    {
        body[0] = std::uint8_t(value);
    }
    std::string out;
    out += char(kIac);
    out += char(kSb);
    out += char(kComPortOption);
    out += char(command);
    AppendEscaped(body, size, out);
    out += char(kIac);
    out += char(kSe);
    return out;
}

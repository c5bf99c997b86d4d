// Port names that stand for a serial line reached over the network:
//   rfc2217://HOST:PORT  Telnet with the Com Port option: the far line's rate,
//                        framing and modem lines follow ours;
//   tcp://HOST:PORT      the bytes only: the far line keeps its own settings.
// HOST may be a name, an IPv4 address or an IPv6 address in brackets.
#pragma once

#include <string>

struct NetworkLineUrl
{
    enum class Kind
    {
        Rfc2217,
        RawTcp,
    };
    Kind kind = Kind::Rfc2217;
    std::string host;
    std::string port;
    std::string text; // the URL as given
};

// Whether the name begins like a network line URL (a device path never does).
bool IsNetworkLineUrl(const std::string& name);
// Splits a URL; false with the reason in `error` when it is malformed.
bool ParseNetworkLineUrl(const std::string& name, NetworkLineUrl& url, std::string& error);
